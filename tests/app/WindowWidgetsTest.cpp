#include "app/QtPrinters.h"
#include "app/RecordingBoxes.h"
#include "app/frmPrincipal.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

using support::Label;

// A window as the program shows it after the load, without running the load itself.
class WindowWidgets : public testing::Test {
protected:
    testapp::RecordingBoxes boxes;
    std::unique_ptr<app::frmPrincipal> window = std::make_unique<app::frmPrincipal>(boxes);

    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    QPushButton* button() const { return window->findChild<QPushButton*>("cmdProceder"); }
    support::Surface& surface() { return *window; }

    void showActive()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
};

TEST_F(WindowWidgets, WindowFrameCaptionAndSize)
{
    showActive();
    EXPECT_EQ(window->objectName(), "frmPrincipal");
    EXPECT_EQ(window->windowTitle(), "Generar tickets del punto de venta");
    EXPECT_EQ(window->size(), QSize(561, 386));
    EXPECT_EQ(window->minimumSize(), QSize(561, 386));
    EXPECT_EQ(window->maximumSize(), QSize(561, 386));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
}

struct ControlRow {
    const char* name;
    QRect geometry;
    qreal pointSize;
    QString caption;
    bool visibleAtOpen;
};

class Controls : public WindowWidgets, public testing::WithParamInterface<ControlRow> {};

TEST_P(Controls, LayoutFontAndCaptionAtOpen)
{
    const ControlRow& row = GetParam();
    showActive();
    auto* control = window->findChild<QWidget*>(row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), window.get());
    EXPECT_EQ(control->geometry(), row.geometry);
    EXPECT_EQ(control->isVisible(), row.visibleAtOpen);

    const QFont font = control->font();
    EXPECT_EQ(font.pointSizeF(), row.pointSize);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
    EXPECT_FALSE(font.strikeOut());
    EXPECT_EQ(font.families().value(0), "MS Sans Serif");
    // Where that face is missing, one of the sans fallbacks must be used, not any face at all.
    EXPECT_TRUE(font.families().contains(QFontInfo(font).family()))
        << QFontInfo(font).family().toStdString();

    if (auto* asLabel = qobject_cast<QLabel*>(control)) {
        EXPECT_EQ(asLabel->text(), row.caption);
        EXPECT_TRUE(asLabel->wordWrap());
        EXPECT_EQ(asLabel->alignment(), Qt::AlignLeft | Qt::AlignTop);
        EXPECT_EQ(asLabel->focusPolicy(), Qt::NoFocus);
    } else {
        EXPECT_EQ(qobject_cast<QPushButton*>(control)->text(), row.caption);
    }
}

INSTANTIATE_TEST_SUITE_P(
    frmPrincipal, Controls,
    testing::Values(ControlRow{"Label3", QRect(24, 8, 513, 185), 8.25, QString(), true},
                    ControlRow{"cmdProceder", QRect(456, 336, 81, 41), 9.75, "&Proceder", true},
                    ControlRow{"Label1", QRect(24, 264, 513, 49), 9.75, QString(), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowWidgets, SummaryLabelPaintsItsLightBlueGround)
{
    showActive();
    const QRect area = label("Label3")->geometry();
    const QColor ground(224, 243, 254);
    const auto groundAt = [&](const QPoint& point) {
        return window->grab(area).toImage().pixelColor(point);
    };
    EXPECT_EQ(groundAt({2, 2}), ground);
    EXPECT_EQ(groundAt({area.width() - 3, area.height() - 3}), ground);
    EXPECT_NE(window->grab(QRect(2, 2, 4, 4)).toImage().pixelColor(1, 1), ground);
    // Disabled during a run, the label keeps its ground and its text stays readable.
    surface().setEnabled(false);
    EXPECT_EQ(groundAt({2, 2}), ground);
    EXPECT_EQ(label("Label1")->palette().color(QPalette::Disabled, QPalette::WindowText),
              label("Label1")->palette().color(QPalette::Active, QPalette::WindowText));
}

TEST_F(WindowWidgets, TabOrderAndFocusOnTheButton)
{
    QLabel* Label3 = label("Label3");
    QLabel* Label1 = label("Label1");
    EXPECT_EQ(Label3->nextInFocusChain(), button());
    EXPECT_EQ(button()->nextInFocusChain(), Label1);
    showActive();
    EXPECT_EQ(QApplication::focusWidget(), button());
    // Tab has nowhere else to go: the labels never take the focus.
    QTest::keyClick(button(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), button());
}

struct KeyRow {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int clicks;
};

class ButtonKeys : public WindowWidgets, public testing::WithParamInterface<KeyRow> {};

TEST_P(ButtonKeys, PressTheButtonFromTheKeyboard)
{
    const KeyRow& row = GetParam();
    // The click handler starts a run; here only the click itself is observed. The disconnect
    // also proves that the handler was wired.
    ASSERT_TRUE(QObject::disconnect(button(), &QPushButton::clicked, window.get(), nullptr));
    QSignalSpy clicks(button(), &QPushButton::clicked);
    showActive();
    QTest::keyClick(QApplication::focusWidget(), row.key, row.modifiers);
    // An access key presses the button and lets it come up a moment later, as a mouse would.
    if (button()->isDown()) {
        EXPECT_TRUE(clicks.wait());
    }
    EXPECT_EQ(clicks.count(), row.clicks);
}

INSTANTIATE_TEST_SUITE_P(frmPrincipal, ButtonKeys,
                         testing::Values(KeyRow{"AltP", Qt::Key_P, Qt::AltModifier, 1},
                                         KeyRow{"Enter", Qt::Key_Return, Qt::NoModifier, 1},
                                         KeyRow{"Space", Qt::Key_Space, Qt::NoModifier, 1},
                                         KeyRow{"AltQ", Qt::Key_Q, Qt::AltModifier, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CaptionRow {
    const char* name;
    Label label;
    QString written;
    QString shown;
};

class Captions : public WindowWidgets, public testing::WithParamInterface<CaptionRow> {};

TEST_P(Captions, ReadBackExactlyAndShowLineBreaks)
{
    const CaptionRow& row = GetParam();
    surface().setCaption(row.label, row.written);
    EXPECT_EQ(surface().caption(row.label), row.written);
    QLabel* shownIn = label(row.label == Label::Label1 ? "Label1" : "Label3");
    EXPECT_EQ(shownIn->text(), row.shown);
    // The other label is untouched.
    const Label other = row.label == Label::Label1 ? Label::Label3 : Label::Label1;
    EXPECT_EQ(surface().caption(other), QString());
}

INSTANTIATE_TEST_SUITE_P(
    frmPrincipal, Captions,
    testing::Values(
        CaptionRow{"SummaryWithLoneCrAndCrLf", Label::Label3,
                   " Servidor: 127.0.0.1\r  Base de datos: datos1\r\nArchivo:",
                   " Servidor: 127.0.0.1\n  Base de datos: datos1\nArchivo:"},
        CaptionRow{"ProgressWithCrLf", Label::Label1, "Archivo: /tmp/Ventas.csv\r\nReng.  12",
                   "Archivo: /tmp/Ventas.csv\nReng.  12"},
        CaptionRow{"CrBeforeCrLfIsTwoBreaks", Label::Label3, "a\r\r\nb", "a\n\nb"},
        CaptionRow{"TrailingCrLfKept", Label::Label1, "No existe\r\n", "No existe\n"},
        CaptionRow{"AmpersandShownAsIs", Label::Label3, "Pérez & Hijos <b>", "Pérez & Hijos <b>"},
        CaptionRow{"Empty", Label::Label1, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowWidgets, SurfaceShowsLabelAndDisablesWindow)
{
    showActive();
    surface().setVisible(Label::Label1, true);
    EXPECT_TRUE(label("Label1")->isVisible());
    EXPECT_TRUE(label("Label3")->isVisible());
    surface().setEnabled(false);
    EXPECT_FALSE(window->isEnabled());
    EXPECT_FALSE(button()->isEnabled());
    surface().setEnabled(true);
    EXPECT_TRUE(button()->isEnabled());
}

TEST_F(WindowWidgets, CloseRequestWhileDisabledIsIgnored)
{
    showActive();
    QSignalSpy ended(window.get(), &app::frmPrincipal::programEnded);
    surface().setEnabled(false);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
    EXPECT_EQ(ended.count(), 0);
}

TEST_F(WindowWidgets, CloseRequestWhileWaitingUnloadsOnce)
{
    showActive();
    QSignalSpy ended(window.get(), &app::frmPrincipal::programEnded);
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(window->unloaded());
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended.at(0).at(0).toInt(), 0);
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(WindowWidgets, CentredOnFirstShowOnly)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QPoint centre = window->screen()->availableGeometry().center();
    const QPoint windowCentre = window->frameGeometry().center();
    EXPECT_LE((windowCentre - centre).manhattanLength(), 2)
        << windowCentre.x() << "," << windowCentre.y();
    window->hide();
    window->move(10, 20);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->pos(), QPoint(10, 20));
}

} // namespace
