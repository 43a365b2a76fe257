#pragma once

#include "app/MessageBoxes.h"
#include "generation/WindowState.h"
#include "support/Surface.h"

#include <QWidget>
#include <exception>

class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMimeData;
class QPushButton;

namespace app {

// The program's one window. It holds the state of the job and handles three events: load,
// the click of cmdProceder and unload. Every handler catches failures at its edge and hands
// them to the error report.
class frmPrincipal : public QWidget, public support::Surface {
    Q_OBJECT
    Q_DISABLE_COPY(frmPrincipal)

public:
    explicit frmPrincipal(MessageBoxes& boxes, QWidget* parent = nullptr);
    ~frmPrincipal() override;

    // Runs the load handler. False when the program ended during the load: then the window
    // must not be shown.
    bool load();
    // True once the unload handler has run; the program ends with exitStatus().
    bool unloaded() const { return unloaded_; }
    int exitStatus() const { return exitStatus_; }

    // Reads the program's settings into the state and writes the summary into Label3.
    void LeerPropios();

    // A workbook for this run only, instead of the settings file's (the command line's LIBRO or
    // a file dropped on the window); the settings file is not changed.
    void setWorkbookThisRun(const QString& path) { workbookThisRun_ = path; }
    // True for a file the program reads as a workbook, by its name.
    static bool isWorkbookFile(const QString& path);

    // The program's executable; its folder is the program's folder and its name names the
    // settings file. By default the running executable, links resolved.
    void setProgramFile(const QString& path) { programFile_ = path; }
    QString programFolder() const;

    const generation::WindowState& state() const { return state_; }

    // support::Surface
    support::Answer showMessage(const support::Message& message) override;
    void setCaption(support::Label label, const QString& caption) override;
    QString caption(support::Label label) const override;
    void setVisible(support::Label label, bool visible) override;
    void setEnabled(bool enabled) override;
    void paintPending() override;
    using QWidget::setVisible;

signals:
    // Emitted once, by the unload handler: the program ends with this status.
    void programEnded(int exitStatus);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Event handlers (frmPrincipal_events.cpp).
    void Form_Load();
    void Form_Unload(qint16& Cancel);
    void cmdProceder_Click();
    // Shows the failure in an error box and on standard error, then unloads with status 1.
    void reportFailure(const std::exception& failure);
    // Unloads the window from the program's side (after a run, a failed start or a failure).
    void unload(int exitStatus);

    QLabel* labelFor(support::Label label) const;
    // The one local workbook a drag carries, or "" when it carries anything else.
    static QString droppedWorkbook(const QMimeData* data);
    // A dropped workbook replaces the summary's for this run (frmPrincipal_events.cpp).
    void useDroppedWorkbook(const QString& path);

    MessageBoxes& boxes_;
    generation::WindowState state_;

    QLabel* Label3 = nullptr;
    QPushButton* cmdProceder = nullptr;
    QLabel* Label1 = nullptr;
    // Captions exactly as written (the labels show CR and CR LF as line breaks).
    QString caption1_;
    QString caption3_;

    QString programFile_;
    QString workbookThisRun_;
    bool centred_ = false;
    bool running_ = false;
    bool unloaded_ = false;
    int exitStatus_ = 0;
};

} // namespace app
