#pragma once

#include "support/Surface.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace testsupport {

// A window surface for tests: answers message boxes from a queue (the default button when the
// queue is empty) and records everything done to it, in order.
class RecordingSurface : public support::Surface {
public:
    std::deque<support::Answer> answers;
    std::vector<support::Message> messages;
    QStringList events;
    QString label1;
    QString label3;
    bool label1Visible = false;
    bool enabled = true;
    int label1Updates = 0;

    support::Answer showMessage(const support::Message& message) override
    {
        messages.push_back(message);
        events << QStringLiteral("message ") + message.title;
        if (answers.empty())
            return message.defaultAnswer;
        const support::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setCaption(support::Label label, const QString& caption) override
    {
        if (label == support::Label::Label1) {
            label1 = caption;
            ++label1Updates;
            if (caption.isEmpty())
                events << QStringLiteral("Label1 cleared");
        } else {
            label3 = caption;
        }
    }
    QString caption(support::Label label) const override
    {
        return label == support::Label::Label1 ? label1 : label3;
    }
    void setVisible(support::Label label, bool visible) override
    {
        if (label == support::Label::Label1) {
            label1Visible = visible;
            events << QStringLiteral("Label1 visible");
        }
    }
    void setEnabled(bool on) override
    {
        enabled = on;
        events << (on ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    }
    void paintPending() override {}
};

} // namespace testsupport
