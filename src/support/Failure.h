#pragma once

#include <QString>
#include <stdexcept>

namespace support {

// A failure of the program itself (settings, start-up, the run), with a Spanish message.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message)
    {
    }
    const QString& message() const { return message_; }

private:
    QString message_;
};

// The message of any failure our libraries raise (they all derive from std::runtime_error and
// carry UTF-8 text).
inline QString failureText(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

} // namespace support
