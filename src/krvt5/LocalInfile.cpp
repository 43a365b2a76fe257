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
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>

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

// Over loopback a TCP segment may be 64 KiB. While the server reads slower than the loader
// sends, the bytes not yet sent gather into one such segment, and a window that the server
// reopens by less than that is left unused until the kernel's window probe, 200 ms at least,
// with the tables locked. So the loader hands over its next bytes only when few are still
// unsent: the segments stay small enough for the window as it reopens.
constexpr int kMostUnsentBytes = 8 * 1024;
constexpr int kMostWaitMs = 250; // then the bytes go as they would have gone

int paceableSocket(MYSQL* mysql)
{
    const my_socket socket = mysql_get_socket(mysql);
    // A Unix socket has no such option: it has no segments either.
    if (socket < 0 || setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kMostUnsentBytes,
                                 sizeof kMostUnsentBytes) != 0)
        return -1;
    return socket;
}

// With that option, a TCP socket is writable only while few of its bytes are unsent.
void awaitFewUnsent(int socket)
{
    if (socket < 0)
        return;
    pollfd writable{socket, POLLOUT, 0};
    poll(&writable, 1, kMostWaitMs);
}

void keepUnsentAsUsual(int socket)
{
    const int usual = 0; // the system's setting
    setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &usual, sizeof usual);
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
        if (n > 0)
            awaitFewUnsent(request->owner->socket_);
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
    if (handle_) {
        LocalInfileHooks::install(static_cast<MYSQL*>(handle_), this);
        socket_ = paceableSocket(static_cast<MYSQL*>(handle_));
    }
}

LocalInfile::~LocalInfile()
{
    // Only while the connection is the one it was: a closed one has freed its handle.
    if (handle_ && handleOf(db_) == handle_) {
        LocalInfileHooks::install(static_cast<MYSQL*>(handle_), nullptr);
        if (socket_ >= 0)
            keepUnsentAsUsual(socket_);
    }
}

unsigned LocalInfile::warnings() const
{
    return handle_ ? mysql_warning_count(static_cast<MYSQL*>(handle_)) : 0;
}

void LocalInfile::refuseAll(QSqlDatabase& db)
{
    if (MYSQL* mysql = handleOf(db))
        LocalInfileHooks::install(mysql, nullptr);
}

} // namespace krvt5
