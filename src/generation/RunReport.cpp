#include "generation/RunReport.h"

#include "support/Failure.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

namespace generation {

namespace {

// A line per row of a long workbook: built by concatenation, which costs far less than arg().
QString outcomeText(const RowEvent& event)
{
    switch (event.outcome) {
    case RowEvent::Outcome::Written:
        return QStringLiteral("ticket ") + QString::number(event.ticket) +
               QStringLiteral(" escrito, importe ") + RunReport::money(event.amount);
    case RowEvent::Outcome::Existed:
        return QStringLiteral("ticket ") + QString::number(event.ticket) +
               QStringLiteral(" ya existía, no se escribió");
    case RowEvent::Outcome::ZeroMarker:
        return QStringLiteral("pasado por alto: marcador \"0\"");
    case RowEvent::Outcome::NotPositive:
        return QStringLiteral("pasado por alto: importe ") + RunReport::money(event.amount) +
               QStringLiteral(", no mayor que cero");
    }
    return {};
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

void openForAppend(QFile& file, const QString& what)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        throw support::Failure(QStringLiteral("No se puede escribir %1 \"%2\": %3")
                                   .arg(what, file.fileName(), file.errorString()));
    }
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
    return QString::number(amount, 'f', 2);
}

QString RunReport::summary(const Figures& f)
{
    QString text = QStringLiteral("Renglones leídos: %1\n"
                                  "Renglones de venta: %2\n"
                                  "Tickets escritos: %3\n"
                                  "Números que ya existían: %4\n"
                                  "Renglones pasados por alto: %5 (marcador \"0\": %6, importe "
                                  "no mayor que cero: %7)\n")
                       .arg(f.rowsRead)
                       .arg(f.saleRows)
                       .arg(f.written)
                       .arg(f.existed)
                       .arg(f.zeroMarker + f.notPositive)
                       .arg(f.zeroMarker)
                       .arg(f.notPositive);
    if (f.numbersUsed > 0) {
        text += QStringLiteral("Primer ticket: %1\nÚltimo ticket: %2\n")
                    .arg(f.firstTicket)
                    .arg(f.lastTicket);
    } else {
        text += QStringLiteral("Primer ticket: ninguno\nÚltimo ticket: ninguno\n");
    }
    text += QStringLiteral("Suma de los importes escritos: %1").arg(money(f.amountWritten));
    return text;
}

void RunReport::begin(const QString& mode, const QString& workbook, const QString& server,
                      const QString& database, const QString& user)
{
    log_.setFileName(logPath_);
    rotateIfLarge();
    openForAppend(log_, QStringLiteral("el informe de la ejecución"));
    logBytes_ = log_.size();
    if (!csvPath_.isEmpty()) {
        csv_.setFileName(csvPath_);
        if (!csv_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            throw support::Failure(QStringLiteral("No se puede escribir el informe \"%1\": %2")
                                       .arg(csvPath_, csv_.errorString()));
        }
        csv_.write("renglon,ticket,resultado,importe\r\n");
    }
    line(QStringLiteral("Inicio (%1): archivo \"%2\", servidor \"%3\", base de datos \"%4\", "
                        "usuario \"%5\"")
             .arg(mode, workbook, server, database, user));
}

void RunReport::onRow(const RowEvent& event)
{
    if (!log_.isOpen())
        return;
    line(QStringLiteral("Renglón ") + QString::number(event.row) + QStringLiteral(": ") +
         outcomeText(event));
    if (csv_.isOpen())
        rows_.push_back(event);
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
    if (!log_.isOpen())
        return;
    line(QStringLiteral("Fin: ") + summary(figures).replace(u'\n', QStringLiteral("; ")));
    writePending();
    writeCsv();
}

void RunReport::failure(const QString& message)
{
    if (!log_.isOpen())
        return;
    QString flat = message;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "))
        .replace(u'\n', u' ')
        .replace(u'\r', u' ');
    line(QStringLiteral("Falla: ") + flat);
    writePending();
    writeCsv();
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
        rotateIfLarge();
        openForAppend(log_, QStringLiteral("el informe de la ejecución"));
        logBytes_ = log_.size();
    }
}

void RunReport::writePending()
{
    if (pending_.isEmpty())
        return;
    log_.write(pending_);
    log_.flush();
    pending_.clear();
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
