#pragma once

#include <QString>
#include <stdexcept>

namespace support {

// A failure of the program itself (settings, start-up, the run), with a Spanish message.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& message,
                     const QString& title = QStringLiteral("generar-tickets"))
        : std::runtime_error(message.toStdString()), message_(message), title_(title)
    {}
    const QString& message() const { return message_; }
    // The title of the box that reports it.
    const QString& title() const { return title_; }

private:
    QString message_;
    QString title_;
};

// The message of any failure our libraries raise (they all derive from std::runtime_error and
// carry UTF-8 text).
inline QString failureText(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

} // namespace support
