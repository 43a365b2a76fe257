#include "krvt5/LocalInfile.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <errmsg.h>
#include <mysql.h>
#include <new>

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
        qsizetype offset = 0;
    };

    static int init(void** state, const char* name, void* userdata)
    {
        auto* owner = static_cast<LocalInfile*>(userdata);
        auto* request = new (std::nothrow) Request{owner};
        *state = request;
        if (!request || !owner || !name || owner->name_ != name || !owner->bytes_) {
            if (owner)
                ++owner->refused_;
            return 1;
        }
        return 0;
    }

    static int read(void* state, char* buffer, unsigned int length)
    {
        auto* request = static_cast<Request*>(state);
        const QByteArray& bytes = *request->owner->bytes_;
        const qsizetype n = std::min<qsizetype>(length, bytes.size() - request->offset);
        std::memcpy(buffer, bytes.constData() + request->offset, std::size_t(n));
        request->offset += n;
        return int(n);
    }

    static void end(void* state) { delete static_cast<Request*>(state); }

    static int error(void*, char* message, unsigned int length)
    {
        std::snprintf(message, length,
                      "el programa sólo envía su propio archivo de carga; se rechazó el "
                      "archivo que pidió el servidor");
        return CR_UNKNOWN_ERROR;
    }

    static void install(MYSQL* mysql, LocalInfile* owner)
    {
        mysql_set_local_infile_handler(mysql, init, read, end, error, owner);
    }
};

LocalInfile::LocalInfile(QSqlDatabase& db, const QString& name)
    : db_(db), handle_(handleOf(db)), name_(QFile::encodeName(name))
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
