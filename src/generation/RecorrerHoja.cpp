#include "generation/RecorrerHoja.h"

#include "spreadsheet/Conversions.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QElapsedTimer>
#include <QTime>
#include <cmath>

namespace generation
{

using support::Label;

namespace
{

constexpr int kEmptyRowsToStop = 50;
constexpr int kDescripLength = 60;
// Label1 shows a few rows a second; more would only slow a long run down.
constexpr qint64 kProgressIntervalMs = 200;

QString address(char column, std::int32_t row)
{
    return QChar::fromLatin1(column) + QString::number(row);
}

// Cuts to n characters, never between the halves of a surrogate pair.
QString leftCharacters(const QString& text, int n)
{
    qsizetype i = 0;
    for (int count = 0; i < text.size() && count < n; ++count)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    return text.left(i);
}

QString clockTime()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm"));
}

class Progress
{
public:
    Progress(support::Surface& surface, const QString& file) : surface_(surface), file_(file) {}

    void row(std::int32_t nRenglon)
    {
        last_ = nRenglon;
        if (!timer_.isValid() || timer_.elapsed() >= kProgressIntervalMs) {
            show();
            timer_.start();
        }
    }
    // The row the walk ended on is always shown.
    void finish()
    {
        if (shown_ != last_ && last_ != 0)
            show();
    }

private:
    void show()
    {
        surface_.setCaption(Label::Label1, ProgressText(file_, last_));
        surface_.paintPending();
        shown_ = last_;
    }

    support::Surface& surface_;
    const QString& file_;
    QElapsedTimer timer_;
    std::int32_t last_ = 0;
    std::int32_t shown_ = 0;
};

struct Sale {
    std::int32_t venta;
    QString cFecha;
    double nImporte;
    QString cDescrip;
};

// Writes one ticket unless its number exists. Header, key and line go in one transaction.
bool writeTicket(WindowState& state, krvt5::RecordsetRef& rsTabla, const Sale& sale,
                 const spreadsheet::Regional& regional)
{
    krvt5::BasesDD& bases = *support::oBases;
    const QString existence = QStringLiteral("tickets WHERE Venta=") + QString::number(sale.venta) +
                              QStringLiteral(" LIMIT 1");
    if (bases.AbrirTabla(rsTabla, state.cnBase, existence))
        return false;

    // A date that is no date fails here, before anything is written.
    const QDate fechaEncabezado = spreadsheet::TextToDate(sale.cFecha, regional);
    const QDate fechaDetalle = spreadsheet::TextToDate(sale.cFecha, regional);
    const QString descrip = DescripcionDetalle(sale.cDescrip);

    state.cnBase->BeginTrans();
    try {
        rsTabla->AddNew();
        rsTabla->setCollect(QStringLiteral("Venta"), sale.venta);
        rsTabla->setCollect(QStringLiteral("Fecha"), fechaEncabezado);
        rsTabla->setCollect(QStringLiteral("Hora"), clockTime());
        rsTabla->setCollect(QStringLiteral("Efectivo"), sale.nImporte);
        rsTabla->setCollect(QStringLiteral("Total"), sale.nImporte);
        rsTabla->Update();

        const QVariant id =
            bases.LastId(state.cnBase, QStringLiteral("tickets"), QStringLiteral("Id"));
        bool ok = false;
        const qlonglong idValue = id.toLongLong(&ok);
        if (!ok || idValue < std::numeric_limits<std::int32_t>::min() ||
            idValue > std::numeric_limits<std::int32_t>::max()) {
            throw support::Failure(
                QStringLiteral(
                    "La clave \"%1\" del ticket recién guardado no es un número de 32 bits.")
                    .arg(id.toString()));
        }
        const auto nIdTicket = static_cast<std::int32_t>(idValue);

        bases.AbrirTabla(rsTabla, state.cnBase, QStringLiteral("ticketsdetalle WHERE Venta=-9"));
        rsTabla->AddNew();
        rsTabla->setCollect(QStringLiteral("Venta"), sale.venta);
        rsTabla->setCollect(QStringLiteral("Partida"), QVariant::fromValue<qint16>(1));
        rsTabla->setCollect(QStringLiteral("Fecha"), fechaDetalle);
        rsTabla->setCollect(QStringLiteral("Hora"), clockTime());
        rsTabla->setCollect(QStringLiteral("Producto"), QStringLiteral("V"));
        rsTabla->setCollect(QStringLiteral("Descrip"), descrip);
        rsTabla->setCollect(QStringLiteral("Cantidad"), QVariant::fromValue<qint16>(1));
        rsTabla->setCollect(QStringLiteral("Precio"), sale.nImporte);
        rsTabla->setCollect(QStringLiteral("IdTicket"), nIdTicket);
        rsTabla->Update();

        state.cnBase->CommitTrans();
    } catch (...) {
        try {
            state.cnBase->RollbackTrans();
        } catch (...) {
            // The first failure is the one to report; a lost connection rolls back anyway.
        }
        throw;
    }
    return true;
}

double amountOf(const spreadsheet::CellValue& cell, const QString& where)
{
    if (cell.kind == spreadsheet::CellValue::Kind::Error) {
        throw support::Failure(
            QStringLiteral("La celda %1 contiene un error (%2).").arg(where, cell.text));
    }
    return support::oLib->krVal(cell.toVariant());
}

} // namespace

QString DescripcionDetalle(const QString& trimmed)
{
    // Upper case can lengthen a text ("ß" gives "SS"); the column holds 60 characters.
    return leftCharacters(leftCharacters(trimmed, kDescripLength).toUpper(), kDescripLength);
}

QString ProgressText(const QString& cArchivo, std::int32_t nRenglon)
{
    const QString sign = nRenglon < 0 ? QString() : QStringLiteral(" ");
    return QStringLiteral("Archivo: ") + cArchivo + QStringLiteral("\r\nReng. ") + sign +
           QString::number(nRenglon);
}

Figures RecorrerHoja(WindowState& state, support::Surface& surface)
{
    Figures figures;
    surface.setCaption(Label::Label1, QString());
    state.nRenglon = 2;
    state.nVacios = 0;
    state.oLibro = state.oExcel->Workbooks().Open(state.cArchivo);
    const spreadsheet::Regional& regional = state.oExcel->regional();

    Progress progress(surface, state.cArchivo);
    krvt5::RecordsetRef rsTabla;
    try {
        for (;;) {
            const std::int32_t row = state.nRenglon;
            progress.row(row);
            ++figures.rowsRead;
            const spreadsheet::Worksheet& sheet = state.oLibro->Worksheets(1);
            const QString b = address('B', row);
            const QString cMarca = spreadsheet::CellText(sheet.Range(b).Value(), regional, b);
            if (cMarca.isEmpty()) {
                state.nVacios.increment("nVacios");
                if (state.nVacios >= kEmptyRowsToStop)
                    break;
            } else {
                state.nVacios = 0;
                if (cMarca == QLatin1String("0")) {
                    ++figures.zeroMarker;
                } else {
                    ++figures.saleRows;
                    const QString d = address('D', row);
                    const QString e = address('E', row);
                    const QString cFecha =
                        spreadsheet::CellText(sheet.Range(d).Value(), regional, d);
                    const double nImporte = amountOf(sheet.Range(e).Value(), e);
                    if (nImporte > 0) {
                        const QString h = address('H', row);
                        const QString cDescrip = spreadsheet::TrimBlanks(
                            spreadsheet::CellText(sheet.Range(h).Value(), regional, h));
                        if (writeTicket(state, rsTabla, {state.nTicket, cFecha, nImporte, cDescrip},
                                        regional)) {
                            ++figures.written;
                            figures.amountWritten += nImporte;
                        } else {
                            ++figures.existed;
                        }
                        state.nTicket.increment("nTicket");
                    } else {
                        ++figures.notPositive;
                    }
                }
            }
            state.nRenglon.increment("nRenglon");
        }
    } catch (const std::exception& failure) {
        progress.finish();
        throw support::Failure(support::failureText(failure) +
                               QStringLiteral("\nArchivo: %1\nHoja 1, renglón %2")
                                   .arg(state.cArchivo)
                                   .arg(state.nRenglon.value()));
    }
    progress.finish();
    support::oBases->CierraTabla(rsTabla);
    return figures;
}

} // namespace generation
