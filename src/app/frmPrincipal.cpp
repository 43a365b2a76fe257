#include "app/frmPrincipal.h"

#include "plaintext/LineEnds.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

// The resources live in a static library: nothing would pull them in without this call, and
// Q_INIT_RESOURCE must stand outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace app {

namespace {

QFont windowFont(qreal pointSize)
{
    QFont font;
    // "MS Sans Serif" exists only on Windows; the others are metric-compatible or close.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    // The window is disabled during a run; its progress must stay readable meanwhile.
    QPalette palette = label->palette();
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::WindowText));
    label->setPalette(palette);
    return label;
}

} // namespace

frmPrincipal::frmPrincipal(MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      boxes_(boxes)
{
    initResources();
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Generar tickets del punto de venta"));
    setWindowIcon(QIcon(QStringLiteral(":/generar-tickets.png")));
    setFixedSize(561, 386);
    setFont(windowFont(9.75));

    // Created in tab order: the focus chain is Label3, cmdProceder, Label1 (setTabOrder ignores
    // widgets that take no focus).
    Label3 = makeLabel(this, "Label3", QRect(24, 8, 513, 185));
    Label3->setFont(windowFont(8.25));
    Label3->setAutoFillBackground(true);
    QPalette summary = Label3->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        summary.setColor(group, QPalette::Window, QColor(224, 243, 254));
    Label3->setPalette(summary);

    cmdProceder = new QPushButton(QStringLiteral("&Proceder"), this);
    cmdProceder->setObjectName(QStringLiteral("cmdProceder"));
    cmdProceder->setGeometry(456, 336, 81, 41);
    // Enter presses the focused button, as it does on the platform the program comes from.
    cmdProceder->setAutoDefault(true);
    connect(cmdProceder, &QPushButton::clicked, this, &frmPrincipal::cmdProceder_Click);

    Label1 = makeLabel(this, "Label1", QRect(24, 264, 513, 49));
    Label1->hide();

    cmdProceder->setFocus();
    // A workbook dragged from a file manager is used for this run.
    setAcceptDrops(true);
}

frmPrincipal::~frmPrincipal() = default;

support::Answer frmPrincipal::showMessage(const support::Message& message)
{
    return boxes_.show(this, message);
}

void frmPrincipal::setCaption(support::Label label, const QString& caption)
{
    (label == support::Label::Label1 ? caption1_ : caption3_) = caption;
    labelFor(label)->setText(plaintext::withLineFeeds(caption));
}

QString frmPrincipal::caption(support::Label label) const
{
    return label == support::Label::Label1 ? caption1_ : caption3_;
}

void frmPrincipal::setVisible(support::Label label, bool visible)
{
    labelFor(label)->setVisible(visible);
}

void frmPrincipal::setEnabled(bool enabled)
{
    QWidget::setEnabled(enabled);
}

void frmPrincipal::paintPending()
{
    // Paints what changed; clicks, keys and close requests stay queued until the run ends.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QLabel* frmPrincipal::labelFor(support::Label label) const
{
    return label == support::Label::Label1 ? Label1 : Label3;
}

void frmPrincipal::closeEvent(QCloseEvent* event)
{
    // A disabled window takes no input, its close box included.
    if (!isEnabled() || running_) {
        event->ignore();
        return;
    }
    event->accept();
    // The program may already have unloaded the window and be closing it: unload only once.
    if (unloaded_)
        return;
    qint16 Cancel = 0;
    Form_Unload(Cancel);
}

void frmPrincipal::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (centred_ || event->spontaneous())
        return;
    centred_ = true;
    QScreen* screen = this->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

bool frmPrincipal::isWorkbookFile(const QString& path)
{
    static const QStringList kSuffixes{QStringLiteral("csv"), QStringLiteral("txt"),
                                       QStringLiteral("xlsx"), QStringLiteral("xlsm")};
    return kSuffixes.contains(QFileInfo(path).suffix().toLower());
}

QString frmPrincipal::droppedWorkbook(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile() || !isWorkbookFile(url.toLocalFile()))
        return {};
    return QFileInfo(url.toLocalFile()).absoluteFilePath();
}

void frmPrincipal::dragEnterEvent(QDragEnterEvent* event)
{
    // Only while the window waits: a run or a finished program takes no other workbook.
    if (isEnabled() && !running_ && !unloaded_ && !droppedWorkbook(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmPrincipal::dropEvent(QDropEvent* event)
{
    const QString path = droppedWorkbook(event->mimeData());
    if (path.isEmpty() || !isEnabled() || running_ || unloaded_)
        return;
    event->acceptProposedAction();
    useDroppedWorkbook(path);
}

} // namespace app
