#include "app/MessageBoxes.h"
#include "app/QtPrinters.h"

#include <QAbstractButton>
#include <QApplication>
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
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
    bool enabled = false;
};

// Shows the message through the real boxes, inspects the open box from the event loop and
// answers it with a key, as a user would.
Answer showAndPress(const support::Message& message, QWidget* parent, Qt::Key key, Seen& seen)
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
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.escapeButton = box->escapeButton() ? box->escapeButton()->text() : QString();
        seen.enabled = box->isEnabled();
        QPointer<QMessageBox> open(box);
        QTest::keyClick(box, key);
        // A key that does not close the box must not hang the test.
        QTimer::singleShot(0, [open] {
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
    const Answer answer = showAndPress(row.message, &parent, row.key, seen);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, row.message.title);
    EXPECT_EQ(seen.text, row.shownText);
    EXPECT_EQ(seen.icon, row.icon);
    QStringList buttons = seen.buttons;
    buttons.sort();
    const bool yesNo = row.message.buttons == Buttons::YesNo;
    EXPECT_EQ(buttons, (yesNo ? QStringList{"No", "Sí"} : QStringList{"Aceptar"}));
    EXPECT_EQ(seen.escapeButton, yesNo ? "No" : "Aceptar");
    EXPECT_EQ(seen.defaultButton, row.defaultButton);
    EXPECT_TRUE(seen.enabled);
    EXPECT_EQ(answer, row.answer);
}

const QString proceder = QStringLiteral("¿Desea proceder a generar los tickets?");
const QString wrongPath = QStringLiteral("En el archivo de configuración (/p/g.ini)\rde este "
                                         "programa debe indicarse la ruta correcta\rRuta: /x");
const QString missing = QStringLiteral("No existe el archivo:\r\n/tmp/Ventas.csv\r\n");

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Boxes, QtMessageBoxesShow,
    testing::Values(
        BoxRow{"QuestionEnterAnswersNo",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::No},
               false, Qt::Key_Return, QMessageBox::Question, "No", proceder, Answer::No},
        BoxRow{"QuestionDefaultYesEnterAnswersYes",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::Yes},
               false, Qt::Key_Return, QMessageBox::Question, "Sí", proceder, Answer::Yes},
        BoxRow{"QuestionEscapeAnswersNo",
               {"Proceder", proceder, Icon::Question, Buttons::YesNo, Answer::Yes},
               false, Qt::Key_Escape, QMessageBox::Question, "Sí", proceder, Answer::No},
        BoxRow{"InformationOk",
               {"Fin", "Proceso terminado", Icon::Information, Buttons::Ok, Answer::Ok},
               false, Qt::Key_Return, QMessageBox::Information, "Aceptar", "Proceso terminado",
               Answer::Ok},
        BoxRow{"ErrorWithLoneCr",
               {"Atención", wrongPath, Icon::Critical, Buttons::Ok, Answer::Ok},
               false, Qt::Key_Escape, QMessageBox::Critical, "Aceptar",
               QString(wrongPath).replace('\r', '\n'), Answer::Ok},
        BoxRow{"ErrorWithCrLfOverDisabledWindow",
               {"Error", missing, Icon::Critical, Buttons::Ok, Answer::Ok},
               true, Qt::Key_Return, QMessageBox::Critical, "Aceptar",
               "No existe el archivo:\n/tmp/Ventas.csv\n", Answer::Ok}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
