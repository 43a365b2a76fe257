#pragma once

#include <QString>

namespace plaintext {

// The system's reason for an errno value, in Spanish for the ones a user meets with files and
// folders; the system's own text otherwise.
QString SystemErrorText(int error);

} // namespace plaintext
