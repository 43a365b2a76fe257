#include "generation/RunLock.h"

#include "krvt5/SqlError.h"
#include "krvt5/SqlLiteral.h"
#include "plaintext/SystemError.h"
#include "support/Failure.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace generation {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{50};
constexpr qsizetype kMaxLockName = 64;
const QString kLockPrefix = QStringLiteral("generar-tickets:");
// Read and write for owner and group, as the database beside it in a shared data folder.
constexpr mode_t kLockFileMode = 0660;

QString systemError(int error)
{
    return plaintext::SystemErrorText(error);
}

} // namespace

RunLock::RunLock(krvt5::ConnectionRef connection, const QString& database,
                 std::chrono::milliseconds wait)
    : connection_(std::move(connection))
{
    if (!connection_)
        throw support::Failure(QStringLiteral("No hay conexión abierta con la base de datos."));
    if (connection_->engine().isServer())
        lockServer(database, wait);
    else
        lockFileBeside(database, wait);
}

RunLock::~RunLock()
{
    if (fd_ >= 0) {
        // Removed while still held: a run waiting on the old file retakes the path (see below).
        ::unlink(path_.toLocal8Bit().constData());
        ::close(fd_);
    }
    if (!name_.isEmpty() && connection_->database().isOpen()) {
        // A closed or lost connection has released the lock already; errors change nothing.
        QSqlQuery release(connection_->database());
        if (release.prepare(QStringLiteral("SELECT RELEASE_LOCK(?)"))) {
            release.addBindValue(name_);
            release.exec();
        }
    }
}

QString RunLock::lockName(const QString& database)
{
    const QString name = kLockPrefix + database;
    if (name.size() <= kMaxLockName)
        return name;
    return kLockPrefix +
           QString::fromLatin1(
               QCryptographicHash::hash(database.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString RunLock::lockFile(const QString& databaseFile)
{
    return databaseFile + QStringLiteral(".lock");
}

void RunLock::lockServer(const QString& database, std::chrono::milliseconds wait)
{
    const QString name = lockName(database);
    QSqlQuery query(connection_->database());
    const auto fail = [&](const QString& reason) {
        return support::Failure(
            QStringLiteral("No se pudo reservar la base de datos \"%1\" para esta ejecución "
                           "(%2): %3")
                .arg(database, connection_->describe(), reason));
    };
    if (!query.prepare(QStringLiteral("SELECT GET_LOCK(?, ?)")))
        throw fail(krvt5::SqlErrorText(query.lastError()));
    query.addBindValue(name);
    query.addBindValue(std::chrono::duration<double>(wait).count());
    if (!query.exec() || !query.next())
        throw fail(krvt5::SqlErrorText(query.lastError()));
    const QVariant taken = query.value(0);
    if (taken.isNull())
        throw fail(QStringLiteral("el servidor no concedió el bloqueo \"%1\"").arg(name));
    if (taken.toInt() != 1)
        busy(database);
    name_ = name;
    QSqlQuery id(connection_->database());
    if (!id.exec(QStringLiteral("SELECT CONNECTION_ID()")) || !id.next())
        throw fail(krvt5::SqlErrorText(id.lastError()));
    holder_ = id.value(0).toLongLong();
}

void RunLock::lockFileBeside(const QString& database, std::chrono::milliseconds wait)
{
    QString file;
    QSqlQuery list(connection_->database());
    if (list.exec(QStringLiteral("PRAGMA database_list"))) {
        while (list.next()) {
            if (list.value(1).toString() == QLatin1String("main"))
                file = list.value(2).toString();
        }
    }
    if (file.isEmpty()) {
        throw support::Failure(
            QStringLiteral("No se pudo saber qué archivo es la base de datos \"%1\" (%2).")
                .arg(database, connection_->describe()));
    }
    const QString path = lockFile(file);
    const QByteArray native = path.toLocal8Bit();
    const auto deadline = Clock::now() + wait;
    for (;;) {
        // Read-only is enough for flock, so a file another user left serves everyone who may
        // read it; never through a link planted at its name.
        int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(native.constData(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kLockFileMode);
            if (fd < 0 && errno == EEXIST)
                continue; // another run made it meanwhile
            // Whatever the umask: the users of a shared data folder share its database.
            if (fd >= 0)
                ::fchmod(fd, kLockFileMode);
        }
        if (fd < 0) {
            const int error = errno;
            throw support::Failure(
                QStringLiteral("No se pudo abrir el archivo de bloqueo %1 de la base de datos "
                               "\"%2\": %3")
                    .arg(path, database,
                         error == ELOOP ? QStringLiteral("es un enlace simbólico, que no se sigue")
                                        : systemError(error)));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder removes the file before letting go: a lock on a removed file is none.
            struct stat held {};
            struct stat named {};
            if (::fstat(fd, &held) == 0 && ::stat(native.constData(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                fd_ = fd;
                path_ = path;
                return;
            }
            ::close(fd);
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK && error != EINTR) {
            throw support::Failure(
                QStringLiteral("No se pudo bloquear el archivo %1 de la base de datos \"%2\": %3")
                    .arg(path, database, systemError(error)));
        }
        if (Clock::now() >= deadline)
            busy(database);
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::function<void(krvt5::Connection&)> RunLock::commitCheck() const
{
    // A file lock lasts as long as the process.
    if (name_.isEmpty())
        return {};
    return [name = name_, holder = holder_,
            database = connection_->describe()](krvt5::Connection& writer) {
        // One round trip with the tables held: the name in the text.
        QSqlQuery held(writer.database());
        if (!held.exec(QStringLiteral("SELECT IS_USED_LOCK(%1)")
                           .arg(krvt5::TextLiteral(writer.database(), name))) ||
            !held.next())
            throw support::Failure(
                QStringLiteral("No se pudo comprobar la reserva de la base de datos (%1): %2")
                    .arg(database, krvt5::SqlErrorText(held.lastError())));
        if (held.value(0).isNull() || held.value(0).toLongLong() != holder)
            throw support::Failure(
                QStringLiteral("Se perdió la reserva de la base de datos para esta ejecución "
                               "(%1): otra ejecución podría escribir los mismos números; no se "
                               "guarda nada más.")
                    .arg(database));
    };
}

void RunLock::busy(const QString& database) const
{
    throw support::Failure(
        QStringLiteral("Otra ejecución de generar-tickets está usando la base de datos \"%1\" "
                       "(%2). Espere a que termine y vuelva a intentarlo.")
            .arg(database, connection_->describe()));
}

} // namespace generation
