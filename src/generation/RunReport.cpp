#include "generation/RunReport.h"

#include "generation/ColumnLimits.h"
#include "plaintext/SystemError.h"
#include "support/Failure.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace generation {

namespace {

// A line per row of a long workbook: built by concatenation, which costs far less than arg().
void appendOutcome(QString& text, const RowEvent& event)
{
    switch (event.outcome) {
    case RowEvent::Outcome::Written:
        text.append(QStringLiteral("ticket "))
            .append(QString::number(event.ticket))
            .append(QStringLiteral(" escrito, importe "))
            .append(RunReport::money(event.amount));
        return;
    case RowEvent::Outcome::Existed:
        text.append(QStringLiteral("ticket "))
            .append(QString::number(event.ticket))
            .append(QStringLiteral(" ya existía, no se escribió"));
        return;
    case RowEvent::Outcome::ZeroMarker:
        text.append(QStringLiteral("pasado por alto: marcador \"0\""));
        return;
    case RowEvent::Outcome::NotPositive:
        text.append(QStringLiteral("pasado por alto: importe "))
            .append(RunReport::money(event.amount))
            .append(QStringLiteral(", no mayor que cero"));
        return;
    }
}

QString outcomeCode(RowEvent::Outcome outcome)
{
    switch (outcome) {
    case RowEvent::Outcome::Written:
        return QStringLiteral("escrito");
    case RowEvent::Outcome::Existed:
        return QStringLiteral("existente");
    case RowEvent::Outcome::ZeroMarker:
        return QStringLiteral("marcador 0");
    case RowEvent::Outcome::NotPositive:
        return QStringLiteral("importe no positivo");
    }
    return {};
}

QString systemError(int error)
{
    if (error == ELOOP)
        return QStringLiteral("es un enlace simbólico, que no se sigue");
    return plaintext::SystemErrorText(error);
}

// Opens the file without following a link at its name (another user of the folder could plant
// one to have lines written into a file of the user who runs the program). A file created here
// gets `mode` whatever the umask: the run report of a shared data folder is the group's.
// The reason in Spanish when it cannot be opened.
std::optional<QString> openNoFollow(QFile& file, const QString& path, int flags, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), flags | O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(native.constData(),
                    flags | O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            ::fchmod(fd, mode);
    }
    if (fd < 0)
        return systemError(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return QStringLiteral("no es un archivo normal");
    }
    const QIODevice::OpenMode openMode =
        (flags & O_APPEND) ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly;
    if (!file.open(fd, openMode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return std::nullopt;
}

constexpr mode_t kReportMode = 0660;

const QByteArray kCsvHeader("renglon,ticket,resultado,importe\r\n");

// Whether an existing file at `path` holds something other than a row report of the program's
// (the workbook, the database, a settings file): the report is never written over it.
bool holdsSomethingElse(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false; // nothing there, or a link, which the opening refuses
    struct stat info {};
    QByteArray start(kCsvHeader.size(), '\0');
    const bool other = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
                       (::read(fd, start.data(), std::size_t(start.size())) != start.size() ||
                        start != kCsvHeader);
    ::close(fd);
    return other;
}

} // namespace

RunReport::RunReport(QString logFile, QString csvFile)
    : logPath_(std::move(logFile)), csvPath_(std::move(csvFile))
{}

RunReport::~RunReport()
{
    if (log_.isOpen())
        writePending();
}

QString RunReport::money(double amount)
{
    if (!std::isfinite(amount))
        return QString::number(amount, 'f', 2);
    // As a column of two decimals keeps the amount sent: 2.675 is 2.68 there, not the 2.67 of
    // the binary number nearest to it.
    QString text = AmountText(amount, 2);
    const qsizetype point = text.indexOf(u'.');
    if (point < 0)
        text += QStringLiteral(".00");
    else
        text += QString(2 - (text.size() - point - 1), u'0');
    return text;
}

QString RunReport::summary(const Figures& f, Tense tense)
{
    const bool done = tense == Tense::Done;
    QString text = QStringLiteral("Renglones leídos: %1\n"
                                  "Renglones de venta: %2\n"
                                  "%8: %3\n"
                                  "Números que ya existían: %4\n"
                                  "Renglones pasados por alto: %5 (marcador \"0\": %6, importe "
                                  "no mayor que cero: %7)\n")
                       .arg(f.rowsRead)
                       .arg(f.saleRows)
                       .arg(f.written)
                       .arg(f.existed)
                       .arg(f.zeroMarker + f.notPositive)
                       .arg(f.zeroMarker)
                       .arg(f.notPositive)
                       .arg(done ? QStringLiteral("Tickets escritos")
                                 : QStringLiteral("Tickets que se escribirían"));
    if (f.numbersUsed > 0) {
        text += QStringLiteral("Primer ticket: %1\nÚltimo ticket: %2\n")
                    .arg(f.firstTicket)
                    .arg(f.lastTicket);
    } else {
        text += QStringLiteral("Primer ticket: ninguno\nÚltimo ticket: ninguno\n");
    }
    text += (done ? QStringLiteral("Suma de los importes escritos: %1")
                  : QStringLiteral("Suma de los importes que se escribirían: %1"))
                .arg(money(f.amountWritten));
    return text;
}

void RunReport::begin(const QString& mode, const QString& workbook, const QString& server,
                      const QString& database, const QString& user)
{
    // The per-row report was asked for by name: without it the run is not what was asked.
    if (!csvPath_.isEmpty()) {
        if (holdsSomethingElse(csvPath_))
            throw support::Failure(
                QStringLiteral("No se escribe el informe \"%1\": ese archivo ya existe y no es un "
                               "informe del programa (el libro, la base de datos o la "
                               "configuración se perderían). Indique otro archivo.")
                    .arg(csvPath_));
        if (const auto reason = openNoFollow(csv_, csvPath_, O_TRUNC, kReportMode)) {
            throw support::Failure(QStringLiteral("No se puede escribir el informe \"%1\": %2")
                                       .arg(csvPath_, *reason));
        }
        csv_.write(kCsvHeader);
    }
    openLog();
    if (log_.isOpen())
        line(QStringLiteral("Inicio (%1): archivo \"%2\", servidor \"%3\", base de datos \"%4\", "
                            "usuario \"%5\"")
                 .arg(mode, workbook, server, database, user));
}

void RunReport::onNotice(const QString& text)
{
    if (log_.isOpen())
        line(QStringLiteral("Aviso: ") + text);
}

void RunReport::onRow(const RowEvent& event)
{
    if (csv_.isOpen())
        rows_.push_back(event);
    if (!log_.isOpen())
        return;
    // A line for every row of the sheet: put together once, without a text per piece.
    QString text;
    text.reserve(64);
    text.append(QStringLiteral("Renglón "))
        .append(QString::number(event.row))
        .append(QStringLiteral(": "));
    appendOutcome(text, event);
    line(text);
}

void RunReport::writeCsv()
{
    if (!csv_.isOpen())
        return;
    // Stored tickets are told at their commit, after rows read later: the sheet's order is the
    // one a spreadsheet user expects.
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const RowEvent& a, const RowEvent& b) { return a.row < b.row; });
    for (const RowEvent& event : rows_) {
        const bool numbered = event.outcome == RowEvent::Outcome::Written ||
                              event.outcome == RowEvent::Outcome::Existed;
        csv_.write(QStringLiteral("%1,%2,%3,%4\r\n")
                       .arg(event.row)
                       .arg(numbered ? QString::number(event.ticket) : QString(),
                            outcomeCode(event.outcome), money(event.amount))
                       .toUtf8());
    }
    rows_.clear();
    csv_.close();
}

void RunReport::end(const Figures& figures)
{
    figures_ = figures;
    writeCsv();
    if (!log_.isOpen())
        return;
    line(QStringLiteral("Fin: ") + summary(figures).replace(u'\n', QStringLiteral("; ")));
    writePending();
}

void RunReport::failure(const QString& message)
{
    writeCsv();
    if (!log_.isOpen())
        return;
    QString flat = message;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "))
        .replace(u'\n', u' ')
        .replace(u'\r', u' ');
    line(QStringLiteral("Falla: ") + flat);
    writePending();
}

// Lines are gathered and written at least once a second: a write and a look at the file's size
// per row would cost more than the row's ticket.
void RunReport::line(const QString& text)
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != stampSecond_) {
        writePending();
        stampSecond_ = second;
        stamp_ = QDateTime::fromSecsSinceEpoch(second)
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "))
                     .toUtf8();
    }
    const qsizetype before = pending_.size();
    pending_ += stamp_;
    pending_ += text.toUtf8();
    pending_ += '\n';
    logBytes_ += pending_.size() - before;
    if (pending_.size() >= kPendingBytes)
        writePending();
    if (logBytes_ > 2 * kMaxLogBytes) {
        writePending();
        log_.close();
        openLog();
    }
}

void RunReport::writePending()
{
    if (pending_.isEmpty() || !log_.isOpen())
        return;
    log_.write(pending_);
    log_.flush();
    // Keeps its room: a line for every row follows.
    pending_.resize(0);
}

void RunReport::openLog()
{
    rotateIfLarge();
    if (const auto reason = openNoFollow(log_, logPath_, O_APPEND, kReportMode)) {
        if (unavailable_.isEmpty()) {
            unavailable_ = QStringLiteral("No se puede escribir el informe de ejecuciones "
                                          "\"%1\": %2. La generación sigue sin él.")
                               .arg(logPath_, *reason);
        }
        pending_.clear();
        return;
    }
    logBytes_ = log_.size();
}

void RunReport::rotateIfLarge()
{
    if (QFile::exists(logPath_) && QFile(logPath_).size() > kMaxLogBytes) {
        const QString previous = logPath_ + QStringLiteral(".1");
        QFile::remove(previous);
        QFile::rename(logPath_, previous);
    }
}

} // namespace generation
