#pragma once

#include <QByteArray>
#include <QString>

class QSqlDatabase;

namespace krvt5 {

// The client's side of LOAD DATA LOCAL on a MySQL connection. The server names the file it
// wants, and a rogue or intercepted server could name any file the user can read. While this
// object lives, a request for `name` is answered with the bytes last handed to serve(), from
// memory: no file is ever opened. Any other request is refused and counted, and its statement
// fails. Without one, the connection refuses every request (refuseAll, set when it opens).
// Other drivers have no such requests: there this does nothing.
class LocalInfile {
public:
    LocalInfile(QSqlDatabase& db, const QString& name);
    ~LocalInfile();
    LocalInfile(const LocalInfile&) = delete;
    LocalInfile& operator=(const LocalInfile&) = delete;

    // False when the connection's handle could not be reached: then nothing may be loaded.
    bool active() const { return handle_ != nullptr; }
    // The requests for another file that were refused.
    int refused() const { return refused_; }
    // What the next request for `name` gets; kept by the caller until that statement ends.
    void serve(const QByteArray& bytes) { bytes_ = &bytes; }
    // The warnings of the connection's last statement, as its answer counted them: no round
    // trip, where SHOW COUNT(*) WARNINGS would take one with the tables held.
    unsigned warnings() const;

    static void refuseAll(QSqlDatabase& db);

private:
    friend struct LocalInfileHooks;

    QSqlDatabase& db_;
    void* handle_ = nullptr; // the connection's MYSQL*
    int socket_ = -1;        // its socket, when a TCP one whose unsent bytes are kept few
    QByteArray name_;
    const QByteArray* bytes_ = nullptr;
    int refused_ = 0;
};

} // namespace krvt5
