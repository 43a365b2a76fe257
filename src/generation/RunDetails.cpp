#include "generation/RunDetails.h"

#include "generation/RunReport.h"
#include "plaintext/LineEnds.h"
#include "support/Failure.h"
#include "support/Surface.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace generation {

using support::Label;

namespace {

// A box is read, not scrolled: past these, a count and where to see the rest.
constexpr std::size_t kMaxWarnings = 10;
constexpr std::size_t kMaxRanges = 6;
// A check slower than this is announced at its next progress report.
constexpr qint64 kNoticeAfterMs = 300;

QString oneLine(const QString& text)
{
    return plaintext::withLineFeeds(text).replace(u'\n', u' ');
}

// The window's surface during the check: the dry run's per-row progress becomes one notice,
// shown only when the check takes long, and the check leaves Label1 as it found it (hidden).
class CheckSurface : public support::Surface {
public:
    CheckSurface(support::Surface& window, bool noticeNow) : window_(window)
    {
        timer_.start();
        if (noticeNow)
            notice();
    }

    void finish()
    {
        if (!shown_)
            return;
        window_.setCaption(Label::Label1, QString());
        window_.setVisible(Label::Label1, false);
        shown_ = false;
    }

    support::Answer showMessage(const support::Message& message) override
    {
        return window_.showMessage(message);
    }
    void setCaption(Label label, const QString& caption) override
    {
        if (label == Label::Label3) {
            window_.setCaption(label, caption);
            return;
        }
        if (!shown_ && !caption.isEmpty() && timer_.elapsed() >= kNoticeAfterMs)
            notice();
    }
    QString caption(Label label) const override { return window_.caption(label); }
    void setVisible(Label label, bool visible) override
    {
        if (label == Label::Label3)
            window_.setVisible(label, visible);
    }
    void setEnabled(bool) override {}
    void paintPending() override { window_.paintPending(); }

private:
    void notice()
    {
        shown_ = true;
        window_.setCaption(Label::Label1, QStringLiteral("Revisando el libro…"));
        window_.setVisible(Label::Label1, true);
        window_.paintPending();
    }

    support::Surface& window_;
    QElapsedTimer timer_;
    bool shown_ = false;
};

// The first and last number a run would write: the used range without the taken numbers at
// either end (both lists ascend, as the walk hands numbers out).
std::pair<std::int32_t, std::int32_t> writtenRange(const Figures& f,
                                                   const std::vector<std::int32_t>& existing)
{
    std::int32_t first = f.firstTicket;
    for (std::size_t i = 0; i < existing.size() && existing[i] == first && first < f.lastTicket;
         ++i)
        ++first;
    std::int32_t last = f.lastTicket;
    for (std::size_t j = existing.size(); j > 0 && existing[j - 1] == last && last > first; --j)
        --last;
    return {first, last};
}

} // namespace

QString NumberRanges(const std::vector<std::int32_t>& numbers, std::size_t maxRanges)
{
    QStringList parts;
    for (std::size_t i = 0; i < numbers.size();) {
        if (static_cast<std::size_t>(parts.size()) == maxRanges) {
            parts << QStringLiteral("…");
            break;
        }
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts << (i == j ? QString::number(numbers[i])
                         : QStringLiteral("%1-%2").arg(numbers[i]).arg(numbers[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

QString DescribeCheck(const Simulacion& result)
{
    const Figures& f = result.figures;
    QString text;
    if (f.written == 0) {
        text += QStringLiteral("Tickets que se escribirán: ninguno\n");
    } else {
        const auto [first, last] = writtenRange(f, result.existing);
        text += first == last
                    ? QStringLiteral("Tickets que se escribirán: 1 (número %1)\n").arg(first)
                    : QStringLiteral("Tickets que se escribirán: %1 (del %2 al %3)\n")
                          .arg(f.written)
                          .arg(first)
                          .arg(last);
    }
    text += QStringLiteral("Números que ya existen: %1").arg(f.existed);
    if (!result.existing.empty())
        text += QStringLiteral(" (%1)").arg(NumberRanges(result.existing, kMaxRanges));
    text += QStringLiteral("\nRenglones que se pasarán por alto: %1 (marcador \"0\": %2, importe "
                           "no mayor que cero: %3)\n")
                .arg(f.zeroMarker + f.notPositive)
                .arg(f.zeroMarker)
                .arg(f.notPositive);

    if (result.problems.empty()) {
        text += QStringLiteral("Sin avisos.");
        return text;
    }
    // What concerns the whole sheet (the date column read the wrong way round) comes first,
    // then the rows in sheet order.
    std::vector<const Simulacion::Problem*> ordered;
    for (const auto& p : result.problems) {
        if (p.row <= 0)
            ordered.push_back(&p);
    }
    for (const auto& p : result.problems) {
        if (p.row > 0)
            ordered.push_back(&p);
    }
    text += QStringLiteral("Avisos:");
    for (std::size_t i = 0; i < ordered.size() && i < kMaxWarnings; ++i) {
        const Simulacion::Problem& p = *ordered[i];
        text += QStringLiteral("\n- ");
        if (p.row > 0)
            text += QStringLiteral("Renglón %1: ").arg(p.row);
        text += oneLine(p.text);
    }
    if (ordered.size() > kMaxWarnings) {
        text += QStringLiteral("\n… y %1 avisos más (generar-tickets --simular los muestra todos)")
                    .arg(ordered.size() - kMaxWarnings);
    }
    if (!result.runWouldSucceed())
        text +=
            QStringLiteral("\nLa generación fallaría: corrija lo que se señala antes de proceder.");
    return text;
}

QString DescribeEnd(const Figures& f)
{
    QString why;
    if (f.written == 0) {
        if (f.numbersUsed > 0) {
            why = f.firstTicket == f.lastTicket
                      ? QStringLiteral("No se escribió ningún ticket: el número %1 ya existía.")
                            .arg(f.firstTicket)
                      : QStringLiteral("No se escribió ningún ticket: todos sus números (del %1 "
                                       "al %2) ya existían.")
                            .arg(f.firstTicket)
                            .arg(f.lastTicket);
        } else if (f.saleRows > 0) {
            why = QStringLiteral("No se escribió ningún ticket: ningún renglón de venta tiene un "
                                 "importe mayor que cero.");
        } else if (f.zeroMarker > 0) {
            why = QStringLiteral(
                "No se escribió ningún ticket: todos los renglones tienen el marcador \"0\".");
        } else {
            why = QStringLiteral("No se escribió ningún ticket: el libro no tiene renglones de "
                                 "venta (la columna B está vacía).");
        }
        why += u'\n';
    }
    return why + RunReport::summary(f);
}

QString CheckBeforeRun(const WindowState& state, support::Surface& surface, qint64 noticeFromBytes)
{
    WindowState probe;
    probe.cArchivoIni = state.cArchivoIni;
    probe.cArchivo = state.cArchivo;
    probe.nTicket = state.nTicket;
    CheckSurface checking(surface, QFileInfo(state.cArchivo).size() >= noticeFromBytes);
    QString details;
    try {
        details = DescribeCheck(Simular(probe, checking));
    } catch (const std::exception& failure) {
        details = QStringLiteral("No se pudo revisar el libro antes de proceder: ") +
                  oneLine(support::failureText(failure));
    }
    checking.finish();
    return details;
}

} // namespace generation
