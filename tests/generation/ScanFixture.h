#pragma once

#include "common/Files.h"
#include "common/RecordingSurface.h"
#include "common/TestDatabase.h"
#include "generation/RecorrerHoja.h"
#include "generation/WindowState.h"
#include "support/modComun.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testsupport {

// A sale row: marker in B, date in D, amount in E, description in H.
inline QStringList sale(const QString& marker, const QString& amount,
                        const QString& descrip = QStringLiteral("Venta"),
                        const QString& date = QStringLiteral("07/12/2026"))
{
    return {QString(), marker, QString(), date, amount, QString(), QString(), descrip};
}

inline QStringList emptyRow()
{
    return {};
}

// The support objects, an open connection to a fresh database on one engine, a started
// spreadsheet application and a workbook path, as the run hands them to the scan.
class ScanFixture : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        support::CrearObjetos();
        db->configure(*support::oBases);
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()))
            << support::oBases->UltimoError().toStdString();
        state.oExcel = std::make_unique<spreadsheet::Application>(spreadsheet::Regional{});
        state.cArchivo = dir.filePath(QStringLiteral("Ventas.csv"));
        state.nTicket = 100;
    }

    void TearDown() override
    {
        state = generation::WindowState{};
        support::TerminarComun();
        db.reset();
    }

    generation::Figures scan(const std::vector<QStringList>& rows)
    {
        writeFile(state.cArchivo, csv(rows));
        return generation::RecorrerHoja(state, surface);
    }

    // Tickets as "Venta|Fecha|Efectivo|Total", amounts with two decimals.
    QStringList tickets()
    {
        QStringList out;
        for (const QStringList& r : db->rows(QStringLiteral(
                 "SELECT Venta, Fecha, Efectivo, Total FROM tickets ORDER BY Venta")))
            out << QStringList{r[0], r[1], money(r[2]), money(r[3])}.join(u'|');
        return out;
    }

    // Lines as "Venta|Partida|Fecha|Producto|Descrip|Cantidad|Precio|linked", where linked says
    // whether IdTicket is the Id of the header with the same Venta.
    QStringList lines()
    {
        QStringList out;
        const auto rows = db->rows(QStringLiteral(
            "SELECT d.Venta, d.Partida, d.Fecha, d.Producto, d.Descrip, d.Cantidad, d.Precio, "
            "CASE WHEN t.Venta = d.Venta THEN 'linked' ELSE 'unlinked' END "
            "FROM ticketsdetalle d LEFT JOIN tickets t ON t.Id = d.IdTicket ORDER BY d.Venta"));
        for (QStringList r : rows) {
            r[6] = money(r[6]);
            out << r.join(u'|');
        }
        return out;
    }

    static QString money(const QString& text) { return QString::number(text.toDouble(), 'f', 2); }

    QTemporaryDir dir;
    std::unique_ptr<TestDatabase> db;
    generation::WindowState state;
    RecordingSurface surface;
};

} // namespace testsupport
