#include "app/MessageBoxes.h"
#include "plaintext/LineEnds.h"

#include <QLabel>
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
    if (!message.informative.isEmpty()) {
        box.setInformativeText(plaintext::withLineFeeds(message.informative));
        // Workbook texts quoted in the details must never be read as markup.
        if (auto* details = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            details->setTextFormat(Qt::PlainText);
            // Room for a figure per line: the box would otherwise be as narrow as its question.
            details->setMinimumWidth(details->fontMetrics().averageCharWidth() * 88);
        }
    }

    // Texts set by hand, so the buttons speak Spanish whatever the system language. The access
    // keys answer without Alt too, as on the system the program's users come from.
    if (message.buttons == support::Buttons::YesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        yes->setText(QStringLiteral("&Sí"));
        QPushButton* no = box.addButton(QMessageBox::No);
        no->setText(QStringLiteral("&No"));
        box.setDefaultButton(message.defaultAnswer == support::Answer::Yes ? yes : no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? support::Answer::Yes : support::Answer::No;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(QStringLiteral("&Aceptar"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return support::Answer::Ok;
}

} // namespace app
