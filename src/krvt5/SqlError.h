#pragma once

#include <QString>

class QSqlError;

namespace krvt5 {

// The driver's message for a user: the server's text with the driver's when it adds something.
QString SqlErrorText(const QSqlError& error);

} // namespace krvt5
