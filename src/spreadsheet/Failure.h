#pragma once

#include <QString>
#include <stdexcept>

namespace spreadsheet {

// A workbook that cannot be read, or a cell value that cannot be converted; Spanish message.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message)
    {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

} // namespace spreadsheet
