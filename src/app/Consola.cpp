#include "app/Consola.h"

#include "app/Programa.h"
#include "generation/RunControl.h"
#include "generation/RunDetails.h"
#include "generation/RunReport.h"
#include "generation/Simulacion.h"
#include "plaintext/LineEnds.h"
#include "support/Failure.h"
#include "support/modComun.h"

#include <unistd.h>

namespace app {

namespace {

void printSimulation(ConsoleSurface& console, const generation::Simulacion& result)
{
    const generation::Figures& f = result.figures;
    QString text = QStringLiteral("Simulación: no se escribió nada.\n") +
                   generation::RunReport::summary(f, generation::RunReport::Tense::Planned) + u'\n';
    if (!result.existing.empty())
        text += QStringLiteral("Números que ya existen: ") +
                generation::NumberRanges(result.existing) + u'\n';
    console.print(stdout, text);
    if (result.problems.empty()) {
        console.print(stdout, QStringLiteral("Sin problemas: la generación puede proceder.\n"));
        return;
    }
    QString problems = QStringLiteral("Problemas encontrados:\n");
    for (const auto& p : result.problems) {
        const QString where = p.row > 0 ? QStringLiteral("Renglón %1: ").arg(p.row) : QString();
        problems += QStringLiteral("  %1%2%3\n")
                        .arg(where, plaintext::withLineFeeds(p.text).replace(u'\n', u' '),
                             p.blocksRun ? QStringLiteral(" [impide la generación]") : QString());
    }
    problems += result.runWouldSucceed()
                    ? QStringLiteral("La generación puede proceder.\n")
                    : QStringLiteral(
                          "La generación fallaría: corrija lo que se señala antes de proceder.\n");
    console.print(result.runWouldSucceed() ? stdout : stderr, problems);
}

} // namespace

ConsoleSurface::ConsoleSurface(std::FILE* out, std::FILE* err, bool terminal)
    : out_(out), err_(err), terminal_(terminal)
{}

void ConsoleSurface::print(std::FILE* stream, const QString& text)
{
    endProgressLine();
    std::fputs(plaintext::withLineFeeds(text).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

support::Answer ConsoleSurface::showMessage(const support::Message& message)
{
    switch (message.icon) {
    case support::Icon::Question:
        // Asking for the command line is answering yes.
        return support::Answer::Yes;
    case support::Icon::Warning:
    case support::Icon::Critical:
        print(err_, message.text.endsWith(u'\n') ? message.text : message.text + u'\n');
        break;
    case support::Icon::Information:
        print(out_, message.text + u'\n');
        break;
    }
    return message.buttons == support::Buttons::YesNo ? support::Answer::Yes : support::Answer::Ok;
}

void ConsoleSurface::setCaption(support::Label label, const QString& caption)
{
    if (label == support::Label::Label3) {
        label3_ = caption;
        return;
    }
    label1_ = caption;
    if (caption.isEmpty()) {
        endProgressLine();
        return;
    }
    const QString line = plaintext::withLineFeeds(caption).replace(u'\n', QStringLiteral("  "));
    if (terminal_) {
        std::fprintf(out_, "\r\033[K%s", line.toLocal8Bit().constData());
        progressOpen_ = true;
    } else {
        std::fprintf(out_, "%s\n", line.toLocal8Bit().constData());
    }
}

QString ConsoleSurface::caption(support::Label label) const
{
    return label == support::Label::Label1 ? label1_ : label3_;
}

void ConsoleSurface::paintPending()
{
    std::fflush(out_);
}

void ConsoleSurface::endProgressLine()
{
    if (progressOpen_) {
        std::fputs("\n", out_);
        progressOpen_ = false;
    }
}

int EjecutarSinVentana(ModoConsola modo, const QString& executable, const QString& informe,
                       const QString& workbookThisRun)
{
    ConsoleSurface console(stdout, stderr, isatty(fileno(stdout)) != 0);
    generation::WindowState state;
    const ProgramPlace place = programPlace(executable);
    int status = 0;
    try {
        if (!IniciarPrograma(state, place, console, workbookThisRun)) {
            status = 2;
        } else {
            console.print(stdout, console.caption(support::Label::Label3) + u'\n');
            if (modo == ModoConsola::Proceder) {
                generation::RunReport report(place.logFile, informe);
                if (generation::cmdProceder_Click(state, console, &report,
                                                  QStringLiteral("línea de órdenes"))) {
                    console.print(stdout,
                                  generation::RunReport::summary(*report.figures()) + u'\n');
                } else {
                    status = 2; // the workbook is missing: already reported
                }
            } else if (!support::oArchivos->HayArchivo(state.cArchivo)) {
                console.print(stderr,
                              QStringLiteral("No existe el archivo:\n") + state.cArchivo + u'\n');
                status = 2;
            } else {
                const generation::Simulacion result = generation::Simular(state, console);
                printSimulation(console, result);
                status = result.runWouldSucceed() ? 0 : 1;
            }
        }
    } catch (const std::exception& failure) {
        console.print(stderr, support::failureText(failure) + u'\n');
        status = 1;
    }
    TerminarPrograma(state);
    return status;
}

} // namespace app
