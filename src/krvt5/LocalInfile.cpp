#include "krvt5/LocalInfile.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <errmsg.h>
#include <mysql.h>
#include <new>
#include <unistd.h>

namespace krvt5 {

namespace {

MYSQL* handleOf(QSqlDatabase& db)
{
    if (!db.isValid() || !db.isOpen() || db.driverName() != QLatin1String("QMYSQL"))
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // The driver's name for the type, as declared or as the compiler spells the typedef.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "MYSQL*") != 0 && qstrcmp(handle.typeName(), "st_mysql*") != 0))
        return nullptr;
    return *static_cast<MYSQL* const*>(handle.constData());
}

} // namespace

// The client library's callbacks: one Request per file request of the server.
struct LocalInfileHooks {
    struct Request {
        LocalInfile* owner = nullptr;
        off_t offset = 0;
        int error = 0; // errno of a failed read
    };

    static int init(void** state, const char* name, void* userdata)
    {
        auto* owner = static_cast<LocalInfile*>(userdata);
        auto* request = new (std::nothrow) Request{owner};
        *state = request;
        if (!request || !owner || !name || owner->name_ != name) {
            if (owner)
                ++owner->refused_;
            return 1;
        }
        return 0;
    }

    static int read(void* state, char* buffer, unsigned int length)
    {
        auto* request = static_cast<Request*>(state);
        for (;;) {
            const ssize_t n = ::pread(request->owner->fd_, buffer, length, request->offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                request->error = errno;
                return -1;
            }
            request->offset += n;
            return int(n);
        }
    }

    static void end(void* state) { delete static_cast<Request*>(state); }

    static int error(void* state, char* message, unsigned int length)
    {
        const auto* request = static_cast<const Request*>(state);
        if (request && request->error != 0) {
            std::snprintf(message, length, "no se pudo leer el archivo de carga: %s",
                          std::strerror(request->error));
        } else {
            std::snprintf(message, length,
                          "el programa sólo envía su propio archivo de carga; se rechazó el "
                          "archivo que pidió el servidor");
        }
        return CR_UNKNOWN_ERROR;
    }

    static void install(MYSQL* mysql, LocalInfile* owner)
    {
        mysql_set_local_infile_handler(mysql, init, read, end, error, owner);
    }
};

LocalInfile::LocalInfile(QSqlDatabase& db, const QString& name, int fd)
    : db_(db), handle_(handleOf(db)), name_(QFile::encodeName(name)), fd_(fd)
{
    if (handle_)
        LocalInfileHooks::install(static_cast<MYSQL*>(handle_), this);
}

LocalInfile::~LocalInfile()
{
    // Only while the connection is the one it was: a closed one has freed its handle.
    if (handle_ && handleOf(db_) == handle_)
        LocalInfileHooks::install(static_cast<MYSQL*>(handle_), nullptr);
}

void LocalInfile::refuseAll(QSqlDatabase& db)
{
    if (MYSQL* mysql = handleOf(db))
        LocalInfileHooks::install(mysql, nullptr);
}

} // namespace krvt5
