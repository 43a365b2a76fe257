#pragma once

#include <QString>
#include <stdexcept>

namespace krvt5 {

// A failure of the support component, carrying a Spanish message the user can act on.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message)
    {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

} // namespace krvt5
