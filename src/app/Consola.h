#pragma once

#include "support/Surface.h"

#include <QString>
#include <cstdio>

namespace app {

// The window's surface on a terminal: messages are printed (errors to standard error), the
// confirmation counts as given, and the progress is one updating line on a terminal or plain
// lines otherwise.
class ConsoleSurface : public support::Surface {
public:
    ConsoleSurface(std::FILE* out, std::FILE* err, bool terminal);

    support::Answer showMessage(const support::Message& message) override;
    void setCaption(support::Label label, const QString& caption) override;
    QString caption(support::Label label) const override;
    void setVisible(support::Label, bool) override {}
    void setEnabled(bool) override {}
    void paintPending() override;

    // Prints a text with CR and CR LF as line breaks.
    void print(std::FILE* stream, const QString& text);

private:
    void endProgressLine();

    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    bool progressOpen_ = false;
    QString label1_;
    QString label3_;
};

enum class ModoConsola { Proceder, Simular };

// Runs the program's job without a window. Exit status: 0 success, 2 wrong installation path or
// missing workbook, 1 any other failure (for a dry run: 1 when a run would fail). A workbook
// given for this run only replaces the settings file's.
int EjecutarSinVentana(ModoConsola modo, const QString& executable, const QString& informe,
                       const QString& workbookThisRun = {});

} // namespace app
