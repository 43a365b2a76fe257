#pragma once

#include "generation/RecorrerHoja.h"

#include <QFile>
#include <QString>
#include <optional>
#include <vector>

namespace generation {

// The run report: appends every run to the program's log (start, one line per row that uses a
// ticket number or is passed over, the end with the figures or the failure with its row) and,
// when asked, writes the per-row outcomes as CSV. The log is rotated past a few megabytes.
class RunReport : public ScanObserver {
public:
    static constexpr qint64 kMaxLogBytes = 4 * 1024 * 1024;

    explicit RunReport(QString logFile, QString csvFile = {});
    ~RunReport() override;
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // Opens the files. A per-row report that cannot be written is a failure, before anything is
    // written; a log that cannot be opened is not: the run goes on without it, and
    // unavailable() says why, for the caller to tell the user once.
    void begin(const QString& mode, const QString& workbook, const QString& server,
               const QString& database, const QString& user);
    void onRow(const RowEvent& event) override;
    void onNotice(const QString& text) override;
    void end(const Figures& figures);
    void failure(const QString& message);

    const std::optional<Figures>& figures() const { return figures_; }
    // Empty while the log is written; otherwise the message for the user.
    const QString& unavailable() const { return unavailable_; }

    // The figures as the end of a run prints them, one per line.
    // A dry run's figures say what would be written.
    enum class Tense { Done, Planned };
    static QString summary(const Figures& figures, Tense tense = Tense::Done);
    static QString money(double amount);

private:
    void line(const QString& text);
    void writePending();
    void openLog();
    void rotateIfLarge();
    void writeCsv();

    static constexpr qsizetype kPendingBytes = 64 * 1024;

    QString logPath_;
    QString csvPath_;
    QFile log_;
    qint64 logBytes_ = 0;
    QByteArray pending_;
    qint64 stampSecond_ = -1;
    QByteArray stamp_;
    QFile csv_;
    std::vector<RowEvent> rows_;
    std::optional<Figures> figures_;
    QString unavailable_;
};

} // namespace generation
