#pragma once

#include "app/MessageBoxes.h"

#include <QWidget>
#include <deque>
#include <gtest/gtest.h>
#include <vector>

namespace testapp {

// Message boxes answered in advance: records every box shown and answers from a queue. With the
// queue empty it answers what Enter would, the box's default button.
class RecordingBoxes : public app::MessageBoxes {
public:
    std::vector<support::Message> shown;
    std::vector<QWidget*> parents;
    std::deque<support::Answer> answers;

    void answerNext(support::Answer answer) { answers.push_back(answer); }

    support::Answer show(QWidget* parent, const support::Message& message) override
    {
        shown.push_back(message);
        parents.push_back(parent);
        if (answers.empty())
            return message.defaultAnswer;
        const support::Answer answer = answers.front();
        answers.pop_front();
        const bool fits = message.buttons == support::Buttons::YesNo
                              ? answer != support::Answer::Ok
                              : answer == support::Answer::Ok;
        if (!fits) {
            ADD_FAILURE() << "answer queued for the box \"" << message.title.toStdString()
                          << "\" is not one of its buttons";
            return message.defaultAnswer;
        }
        return answer;
    }
};

} // namespace testapp
