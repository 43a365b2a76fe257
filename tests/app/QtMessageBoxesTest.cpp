#include "app/MessageBoxes.h"
#include "app/QtPrinters.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

using support::Answer;
using support::Buttons;
using support::Icon;

// What the box showed while it was open.
struct Seen {
    bool found = false;
    QString title;
    QString text;
    QString informative;
    bool informativePlain = false;
    QString clicked; // the button the key pressed, not the guard closing the box
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
    bool enabled = false;
};

// Shows the message through the real boxes, inspects the open box from the event loop and
// answers it with a key, as a user would.
Answer showAndPress(const support::Message& message, QWidget* parent, Qt::Key key,
                    Qt::KeyboardModifiers modifiers, Seen& seen)
{
    int tries = 0;
    std::function<void()> look = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (++tries < 1000)
                QTimer::singleShot(0, look);
            return;
        }
        seen.found = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informative = box->informativeText();
        if (auto* details = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            seen.informativePlain = details->textFormat() == Qt::PlainText;
        QObject::connect(box, &QMessageBox::buttonClicked,
                         [&seen](QAbstractButton* button) { seen.clicked = button->text(); });
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.escapeButton = box->escapeButton() ? box->escapeButton()->text() : QString();
        seen.enabled = box->isEnabled();
        QPointer<QMessageBox> open(box);
        // Alt with a letter goes through the active window's shortcuts.
        box->activateWindow();
        // Offscreen, a window may never count as active: the keys go to the box anyway.
        (void)QTest::qWaitForWindowActive(box);
        QTest::keyClick(box, key, modifiers);
        // A key that does not close the box must not hang the test. An access key clicks its
        // button after a short animation, so the guard leaves the box time for that.
        QTimer::singleShot(3000, [open] {
            if (open)
                open->done(0);
        });
    };
    QTimer::singleShot(0, look);
    app::QtMessageBoxes boxes;
    return boxes.show(parent, message);
}

struct BoxRow {
    const char* name;
    support::Message message;
    bool disabledParent;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QMessageBox::Icon icon;
    QString defaultButton;
    QString shownText;
    Answer answer;
};

class QtMessageBoxesShow : public testing::TestWithParam<BoxRow> {};

TEST_P(QtMessageBoxesShow, SpanishButtonsIconDefaultAndAnswer)
{
    const BoxRow& row = GetParam();
    QWidget parent;
    parent.show();
    parent.setEnabled(!row.disabledParent);
    Seen seen;
    const Answer answer = showAndPress(row.message, &parent, row.key, row.modifiers, seen);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, row.message.title);
    EXPECT_EQ(seen.text, row.shownText);
    EXPECT_EQ(
        seen.informative,
        QString(row.message.informative).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (!row.message.informative.isEmpty()) {
        EXPECT_TRUE(seen.informativePlain);
    }
    EXPECT_EQ(seen.icon, row.icon);
    QStringList buttons = seen.buttons;
    buttons.sort();
    const bool yesNo = row.message.buttons == Buttons::YesNo;
    // The access keys: S and N answer a question, A accepts.
    EXPECT_EQ(buttons, (yesNo ? QStringList{"&No", "&Sí"} : QStringList{"&Aceptar"}));
    EXPECT_EQ(seen.escapeButton, yesNo ? "&No" : "&Aceptar");
    EXPECT_EQ(seen.defaultButton, row.defaultButton);
    EXPECT_TRUE(seen.enabled);
    EXPECT_EQ(answer, row.answer);
    EXPECT_EQ(seen.clicked, !yesNo ? "&Aceptar" : row.answer == Answer::Yes ? "&Sí" : "&No");
}

const QString proceder = QStringLiteral("¿Desea proceder a generar los tickets?");
const QString wrongPath = QStringLiteral("En el archivo de configuración (/p/g.ini)\rde este "
                                         "programa debe indicarse la ruta correcta\rRuta: /x");
const QString missing = QStringLiteral("No existe el archivo:\r\n/tmp/Ventas.csv\r\n");

// clang-format off
const QString details = QStringLiteral("Tickets que se escribirán: 2 (del 500 al 501)\r\n"
                                       "Avisos:\r\n- <b>no es marcado</b>");
const auto none = Qt::NoModifier;
INSTANTIATE_TEST_SUITE_P(
    Boxes, QtMessageBoxesShow,
    testing::Values(
        BoxRow{"QuestionEnterAnswersNo",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::No},
               false, Qt::Key_Return, none, QMessageBox::Question, "&No", proceder, Answer::No},
        BoxRow{"QuestionDefaultYesEnterAnswersYes",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::Yes},
               false, Qt::Key_Return, none, QMessageBox::Question, "&Sí", proceder, Answer::Yes},
        BoxRow{"QuestionEscapeAnswersNo",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::Yes},
               false, Qt::Key_Escape, none, QMessageBox::Question, "&Sí", proceder, Answer::No},
        BoxRow{"QuestionSAnswersYes",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::No, details},
               false, Qt::Key_S, none, QMessageBox::Question, "&No", proceder, Answer::Yes},
        BoxRow{"QuestionAltSAnswersYes",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::No},
               false, Qt::Key_S, Qt::AltModifier, QMessageBox::Question, "&No", proceder,
               Answer::Yes},
        BoxRow{"QuestionNAnswersNoOverDefaultYes",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::Yes},
               false, Qt::Key_N, none, QMessageBox::Question, "&Sí", proceder, Answer::No},
        BoxRow{"QuestionWithDetailsEnterStillAnswersNo",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::No, details},
               false, Qt::Key_Enter, none, QMessageBox::Question, "&No", proceder, Answer::No},
        BoxRow{"InformationOk",
               {"Fin", "Proceso terminado", Icon::Information, Buttons::Ok, Answer::Ok},
               false, Qt::Key_Return, none, QMessageBox::Information, "&Aceptar",
               "Proceso terminado", Answer::Ok},
        BoxRow{"InformationWithFiguresAcceptedByA",
               {"Fin", "Proceso terminado", Icon::Information, Buttons::Ok, Answer::Ok,
                "Tickets escritos: 2\nSuma de los importes escritos: 30.50"},
               false, Qt::Key_A, none, QMessageBox::Information, "&Aceptar",
               "Proceso terminado", Answer::Ok},
        BoxRow{"ErrorWithLoneCr",
               {"Atención", wrongPath, Icon::Critical, Buttons::Ok, Answer::Ok},
               false, Qt::Key_Escape, none, QMessageBox::Critical, "&Aceptar",
               QString(wrongPath).replace('\r', '\n'), Answer::Ok},
        BoxRow{"ErrorWithCrLfOverDisabledWindow",
               {"Error", missing, Icon::Critical, Buttons::Ok, Answer::Ok},
               true, Qt::Key_Return, none, QMessageBox::Critical, "&Aceptar",
               "No existe el archivo:\n/tmp/Ventas.csv\n", Answer::Ok}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
