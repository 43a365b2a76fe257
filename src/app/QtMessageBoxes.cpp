#include "app/MessageBoxes.h"
#include "plaintext/LineEnds.h"

#include <QMessageBox>
#include <QPushButton>

namespace app {

namespace {

QMessageBox::Icon boxIcon(support::Icon icon)
{
    switch (icon) {
    case support::Icon::Question:
        return QMessageBox::Question;
    case support::Icon::Warning:
        return QMessageBox::Warning;
    case support::Icon::Critical:
        return QMessageBox::Critical;
    case support::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

support::Answer QtMessageBoxes::show(QWidget* parent, const support::Message& message)
{
    QMessageBox box(parent);
    box.setWindowTitle(message.title);
    box.setIcon(boxIcon(message.icon));
    box.setTextFormat(Qt::PlainText);
    box.setText(plaintext::withLineFeeds(message.text));

    // Texts set by hand, so the buttons speak Spanish whatever the system language.
    if (message.buttons == support::Buttons::YesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        yes->setText(QStringLiteral("Sí"));
        QPushButton* no = box.addButton(QMessageBox::No);
        no->setText(QStringLiteral("No"));
        box.setDefaultButton(message.defaultAnswer == support::Answer::Yes ? yes : no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? support::Answer::Yes : support::Answer::No;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(QStringLiteral("Aceptar"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return support::Answer::Ok;
}

} // namespace app
