#include "common/TestDatabase.h"
#include "krvt5/Failure.h"

#include <QSqlQuery>

using testsupport::Engine;
using testsupport::TestDatabase;

namespace {

// The server ends the connection in the middle of a transaction (a restart, KILL): the rollback
// fails, and what comes next must say that the connection is gone, not that a transaction is
// still open, with nothing of the transaction stored.
TEST(LostConnection, AfterAFailedRollbackTheNextTransactionReportsTheLostConnection)
{
    const std::vector<Engine> engines = testsupport::engines();
    if (std::find(engines.begin(), engines.end(), Engine::MariaDB) == engines.end())
        GTEST_SKIP() << "sin servidor MariaDB de pruebas";
    TestDatabase db(Engine::MariaDB);
    krvt5::BasesDD bases;
    db.configure(bases);
    krvt5::ConnectionRef cn;
    ASSERT_TRUE(bases.AbrirBdD(cn, db.name())) << bases.UltimoError().toStdString();

    QSqlQuery id(cn->database());
    ASSERT_TRUE(id.exec(QStringLiteral("SELECT CONNECTION_ID()")) && id.next());
    const QString connection = id.value(0).toString();
    id.finish();
    cn->BeginTrans();
    QSqlQuery insert(cn->database());
    ASSERT_TRUE(insert.exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, "
                                           "Total) VALUES (1, '2026-12-07', '10:00', 1, 1)")));
    db.exec(QStringLiteral("KILL ") + connection);

    EXPECT_THROW(cn->RollbackTrans(), krvt5::Failure);
    try {
        cn->BeginTrans();
        ADD_FAILURE() << "a transaction began on a lost connection";
    } catch (const krvt5::Failure& failure) {
        EXPECT_TRUE(
            failure.message().startsWith(QStringLiteral("No se pudo iniciar una transacción")))
            << failure.what();
    }
    EXPECT_TRUE(db.rows(QStringLiteral("SELECT Id FROM tickets")).empty());
    bases.CierraBdD(cn);
}

} // namespace
