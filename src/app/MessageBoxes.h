#pragma once

#include "support/Surface.h"

class QWidget;

namespace app {

// Shows a modal message box and returns the answer. The program shows QMessageBox in Spanish;
// tests answer in advance and record what was shown.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual support::Answer show(QWidget* parent, const support::Message& message) = 0;
};

// The real boxes: QMessageBox with the icon, the buttons "&Sí"/"&No" or "&Aceptar" whatever the
// system language, the default button the message names and the informative text under the
// text.
class QtMessageBoxes : public MessageBoxes {
public:
    support::Answer show(QWidget* parent, const support::Message& message) override;
};

} // namespace app
