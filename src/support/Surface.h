#pragma once

#include <QString>

namespace support {

enum class Icon { Question, Information, Warning, Critical };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

// A modal message box: title, text, icon, buttons and the button that Enter presses. The
// informative text, when there is one, stands under the text in a smaller role: details that
// leave the box's own words as they are.
struct Message {
    QString title;
    QString text;
    Icon icon = Icon::Information;
    Buttons buttons = Buttons::Ok;
    Answer defaultAnswer = Answer::Ok;
    QString informative = {};

    friend bool operator==(const Message&, const Message&) = default;
};

enum class Label { Label1, Label3 };

// What the program's operations may do to its window. The window implements it with widgets;
// tests implement it with a recorder that answers message boxes in advance.
class Surface {
public:
    virtual ~Surface() = default;

    virtual Answer showMessage(const Message& message) = 0;
    // A caption reads back exactly as it was written, line breaks included.
    virtual void setCaption(Label label, const QString& caption) = 0;
    virtual QString caption(Label label) const = 0;
    virtual void setVisible(Label label, bool visible) = 0;
    virtual void setEnabled(bool enabled) = 0;
    // Lets the window paint what changed during a long run; it takes no input meanwhile.
    virtual void paintPending() = 0;
};

} // namespace support
