#include "common/TestDatabase.h"
#include "krvt5/Failure.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <functional>
#include <optional>

using krvt5::BasesDD;
using krvt5::ConnectionRef;
using krvt5::RecordsetRef;
using testsupport::Engine;
using testsupport::TestDatabase;

namespace {

std::string text(const QStringList& row)
{
    return row.join(QStringLiteral(" | ")).toStdString();
}

// The message of a call that must fail with a Failure.
QString failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const krvt5::Failure& failure) {
        return failure.message();
    }
    ADD_FAILURE() << "se esperaba un fallo";
    return {};
}

class BasesDDTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db_ = std::make_unique<TestDatabase>(GetParam());
        ASSERT_FALSE(HasFailure()) << "no se pudo preparar la base de pruebas";
        db_->configure(bases_);
        ASSERT_TRUE(bases_.AbrirBdD(cn_, db_->name())) << bases_.UltimoError().toStdString();
    }

    void TearDown() override
    {
        bases_.CierraTabla(rs_);
        bases_.CierraBdD(cn_);
    }

    // Appends a ticket header as the sheet scan does.
    void addTicket(ConnectionRef& cn, int venta, const QVariant& amount = 10.5)
    {
        RecordsetRef rs;
        ASSERT_FALSE(bases_.AbrirTabla(rs, cn, QStringLiteral("tickets WHERE Venta=-9")));
        rs->AddNew();
        rs->setCollect(QStringLiteral("Venta"), venta);
        rs->setCollect(QStringLiteral("Fecha"), QDate(2024, 2, 29));
        rs->setCollect(QStringLiteral("Hora"), QStringLiteral("09:05"));
        rs->setCollect(QStringLiteral("Efectivo"), amount);
        rs->setCollect(QStringLiteral("Total"), amount);
        rs->Update();
    }

    // The first value of a query that yields one row.
    std::string value(const QString& query)
    {
        const auto rows = db_->rows(query);
        return rows.size() == 1 ? rows[0].value(0).toStdString() : "(sin fila)";
    }

    std::unique_ptr<TestDatabase> db_;
    BasesDD bases_;
    ConnectionRef cn_;
    RecordsetRef rs_;
};

TEST_P(BasesDDTest, SelectsTheRowsOfAnExpression)
{
    for (const int venta : {5, 5, -3, 7})
        addTicket(cn_, venta);
    db_->exec(QStringLiteral("INSERT INTO ticketsdetalle (Venta, Partida, Fecha, Hora, Producto, "
                             "Descrip, Cantidad, Precio, IdTicket) VALUES "
                             "(7, 1, '2024-01-02', '10:00', 'V', 'A', 1, 1.5, 4), "
                             "(7, 2, '2024-01-02', '10:00', 'V', 'B', 1, 2.5, 4)"));
    const struct {
        const char* expression;
        int rows;
        std::optional<int> venta;
    } cases[] = {
        {"tickets WHERE Venta=5", 2, 5},
        {"tickets WHERE Venta=5 LIMIT 1", 1, 5},
        {"tickets WHERE Venta=120 LIMIT 1", 0, {}},
        {"tickets WHERE Venta=-3", 1, -3},
        {"  tickets\twhere  venta = 5  limit 0 ", 0, {}},
        {"tickets", 4, {}},
        {"tickets LIMIT 3", 3, {}},
        {"ticketsdetalle WHERE Venta=7 AND Partida=2", 1, 7},
        {"ticketsdetalle WHERE Venta=-9", 0, {}},
    };
    // Twice: the second round runs on the statements the first one prepared.
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.expression);
            const bool selected = bases_.AbrirTabla(rs_, cn_, QString::fromUtf8(c.expression));
            EXPECT_EQ(selected, c.rows > 0);
            int visited = 0;
            for (; !rs_->EOF_(); rs_->MoveNext(), ++visited) {
                if (c.venta) {
                    EXPECT_EQ(rs_->Collect(QStringLiteral("venta")).toInt(), *c.venta);
                }
            }
            EXPECT_EQ(visited, c.rows);
        }
    }
}

TEST_P(BasesDDTest, RejectsAnythingButTableWhereAndLimit)
{
    const char* const expressions[] = {
        "tickets; DROP TABLE tickets",
        "tickets WHERE Venta='1'",
        "tickets WHERE Venta=1 OR 1=1",
        "tickets LIMIT -1",
        "",
        "   ",
        "tickets WHERE",
        "1tickets",
        "tickets WHERE Venta=1;",
        "tickets WHERE Venta=1.5",
        "tickets WHERE Venta=99999999999999999999",
        "tickets WHERE Venta=1AND Partida=1",
        "tickets WHERE Venta=1 AND",
        "tickets WHERE Venta=- 1",
        "tickets WHERE Venta=1 -- comentario",
        "tickets LIMIT 1 WHERE Venta=1",
        "tickets LIMIT 1 LIMIT 2",
        "tickets, ticketsdetalle",
        "`tickets`",
        "WHERE Venta=1",
        "tickets WHERE limit=1",
    };
    for (const char* expression : expressions) {
        SCOPED_TRACE(expression);
        const QString message =
            failureOf([&] { bases_.AbrirTabla(rs_, cn_, QString::fromUtf8(expression)); });
        EXPECT_TRUE(message.startsWith(QStringLiteral("Expresión de tabla no válida")))
            << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(expression))) << message.toStdString();
    }
    EXPECT_EQ(value(QStringLiteral("SELECT COUNT(*) FROM tickets")), "0");
}

TEST_P(BasesDDTest, NamesWhatIsMissing)
{
    const QString base = db_->name();
    const struct {
        const char* name;
        std::function<void()> call;
        QStringList named;
    } cases[] = {
        {"table",
         [&] { bases_.AbrirTabla(rs_, cn_, QStringLiteral("noexiste WHERE Venta=1")); },
         {QStringLiteral("\"noexiste\""), base}},
        {"where column",
         [&] { bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Nada=1")); },
         {QStringLiteral("\"Nada\""), QStringLiteral("\"tickets\""), base}},
        {"field",
         [&] {
             bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=-9"));
             rs_->AddNew();
             rs_->setCollect(QStringLiteral("Importe"), 1);
         },
         {QStringLiteral("\"Importe\""), QStringLiteral("\"tickets\""), base}},
        {"required field",
         [&] {
             bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=-9"));
             rs_->AddNew();
             rs_->setCollect(QStringLiteral("Venta"), 1);
             rs_->Update();
         },
         {QStringLiteral("\"tickets\""), QStringLiteral("Fecha")}},
        {"key never stored",
         [&] { bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Id")); },
         {QStringLiteral("\"tickets\""), QStringLiteral("\"Id\"")}},
        {"key field",
         [&] { bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Clave")); },
         {QStringLiteral("\"Clave\"")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString message = failureOf(c.call);
        for (const QString& part : c.named)
            EXPECT_TRUE(message.contains(part))
                << message.toStdString() << " / " << part.toStdString();
    }
}

TEST_P(BasesDDTest, StoresEveryTypeTheTicketTablesTake)
{
    const QString description = QStringLiteral("CAFÉ ÑANDÚ");
    const QString longest(60, u'Ñ'); // 60 characters, 120 bytes
    RecordsetRef rs;
    // A null text is the empty text, never NULL (an empty description cell gives one).
    for (const QString& descrip : {description, longest, QString()}) {
        bases_.AbrirTabla(rs, cn_, QStringLiteral("ticketsdetalle WHERE Venta=-9"));
        rs->AddNew();
        rs->setCollect(QStringLiteral("Venta"), std::numeric_limits<qint32>::max());
        rs->setCollect(QStringLiteral("Partida"), QVariant::fromValue<qint16>(32767));
        rs->setCollect(QStringLiteral("Fecha"), QDate(2024, 2, 29));
        rs->setCollect(QStringLiteral("Hora"), QStringLiteral("23:59"));
        rs->setCollect(QStringLiteral("Producto"), QStringLiteral("V"));
        rs->setCollect(QStringLiteral("Descrip"), descrip);
        rs->setCollect(QStringLiteral("Cantidad"), QVariant::fromValue<qint16>(-1));
        rs->setCollect(QStringLiteral("Precio"), 131072.01);
        rs->setCollect(QStringLiteral("IdTicket"), std::numeric_limits<qint32>::min());
        rs->Update();
    }
    const auto rows = db_->rows(QStringLiteral("SELECT Venta, Partida, Fecha, Hora, Producto, "
                                               "Descrip, Cantidad, Precio, IdTicket "
                                               "FROM ticketsdetalle ORDER BY Id"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(text(rows[0]), text({"2147483647", "32767", "2024-02-29", "23:59", "V", description,
                                   "-1", "131072.01", "-2147483648"}));
    EXPECT_EQ(rows[1].value(5).toStdString(), longest.toStdString());
    EXPECT_EQ(rows[2].value(5).toStdString(), "");

    ASSERT_TRUE(
        bases_.AbrirTabla(rs, cn_, QStringLiteral("ticketsdetalle WHERE Venta=2147483647")));
    EXPECT_EQ(rs->Collect(QStringLiteral("Partida")).toInt(), 32767);
    EXPECT_EQ(rs->Collect(QStringLiteral("Fecha")).toDate(), QDate(2024, 2, 29));
    EXPECT_EQ(rs->Collect(QStringLiteral("Descrip")).toString().toStdString(),
              description.toStdString());
    EXPECT_EQ(rs->Collect(QStringLiteral("IdTicket")).toLongLong(), -2147483648LL);
}

TEST_P(BasesDDTest, AmountsReachDecimalColumnsExactly)
{
    const bool mariadb = GetParam() == Engine::MariaDB;
    const struct {
        const char* name;
        QVariant amount;
        const char* mariadb;
        const char* sqlite;
    } cases[] = {
        {"double", 131072.01, "131072.01", "131072.01"},
        {"tenth", 0.1, "0.10", "0.1"},
        {"large", 1234567890.12, "1234567890.12", "1234567890.12"},
        {"negative", -45.5, "-45.50", "-45.5"},
        // A float is stored as the digits it shows, not as its binary value widened to double.
        {"float tenth", QVariant::fromValue(0.1f), "0.10", "0.1"},
        {"float rounded", QVariant::fromValue(131072.01f), "131072.02", "131072.02"},
        {"integer", 7, "7.00", "7"},
        {"text", QStringLiteral("12.34"), "12.34", "12.34"},
    };
    int venta = 0;
    for (const auto& c : cases)
        addTicket(cn_, ++venta, c.amount);
    venta = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = mariadb ? c.mariadb : c.sqlite;
        EXPECT_EQ(value(QStringLiteral("SELECT Efectivo FROM tickets WHERE Venta=%1").arg(++venta)),
                  expected);
        EXPECT_EQ(value(QStringLiteral("SELECT Total FROM tickets WHERE Venta=%1").arg(venta)),
                  expected);
    }
}

TEST_P(BasesDDTest, LastIdIsThisConnectionsOwn)
{
    ConnectionRef other;
    ASSERT_TRUE(bases_.AbrirBdD(other, db_->name())) << bases_.UltimoError().toStdString();
    // Keys of the two tables apart, so that a key of the wrong table cannot pass.
    for (int venta = 1; venta <= 3; ++venta)
        addTicket(other, venta);
    addTicket(cn_, 100);
    addTicket(other, 200);
    const QVariant mine = bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Id"));
    const QVariant theirs = bases_.LastId(other, QStringLiteral("tickets"), QStringLiteral("Id"));
    EXPECT_EQ(value(QStringLiteral("SELECT Venta FROM tickets WHERE Id=%1").arg(mine.toLongLong())),
              "100");
    EXPECT_EQ(
        value(QStringLiteral("SELECT Venta FROM tickets WHERE Id=%1").arg(theirs.toLongLong())),
        "200");

    // A detail line stored afterwards does not hide the header's key.
    bases_.AbrirTabla(rs_, cn_, QStringLiteral("ticketsdetalle WHERE Venta=-9"));
    rs_->AddNew();
    for (const char* field : {"Venta", "Partida", "Cantidad", "IdTicket"})
        rs_->setCollect(QString::fromLatin1(field), 1);
    rs_->setCollect(QStringLiteral("Fecha"), QDate(2024, 1, 1));
    rs_->setCollect(QStringLiteral("Hora"), QStringLiteral("10:00"));
    rs_->setCollect(QStringLiteral("Producto"), QStringLiteral("V"));
    rs_->setCollect(QStringLiteral("Descrip"), QString());
    rs_->setCollect(QStringLiteral("Precio"), 1.0);
    rs_->Update();
    EXPECT_EQ(bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Id")), mine);
    EXPECT_EQ(value(QStringLiteral("SELECT Id FROM ticketsdetalle")),
              cn_->lastInsertId().toString().toStdString());
    bases_.CierraBdD(other);
}

TEST_P(BasesDDTest, TransactionsDecideWhatStays)
{
    addTicket(cn_, 1);
    const QVariant before = bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Id"));
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        cn_->BeginTrans();
        EXPECT_TRUE(cn_->inTransaction());
        EXPECT_FALSE(failureOf([&] { cn_->BeginTrans(); }).isEmpty());
        addTicket(cn_, 2);
        EXPECT_EQ(value(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Venta=2")), "0");
        if (commit)
            cn_->CommitTrans();
        else
            cn_->RollbackTrans();
        EXPECT_FALSE(cn_->inTransaction());
        EXPECT_EQ(value(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Venta=2")),
                  commit ? "1" : "0");
        const QVariant last = bases_.LastId(cn_, QStringLiteral("tickets"), QStringLiteral("Id"));
        EXPECT_EQ(last == before, !commit);
    }
    EXPECT_FALSE(failureOf([&] { cn_->CommitTrans(); }).isEmpty());
    EXPECT_FALSE(failureOf([&] { cn_->RollbackTrans(); }).isEmpty());
}

TEST_P(BasesDDTest, OpeningFailsWithAReasonAndWithoutThePassword)
{
    const bool mariadb = GetParam() == Engine::MariaDB;
    const QString secret = QStringLiteral("Clave-Incorrecta-9137");
    const QString name = db_->name();
    const QString server = db_->server();
    const QString user = db_->user();
    const auto badFile = [&] {
        QFile file(server.mid(7) + QStringLiteral("/texto.db"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("esto no es una base de datos SQLite, aunque lo parezca por su nombre");
        bases_.cMiBase = QStringLiteral("texto");
    };
    const struct {
        const char* name;
        bool onMariaDB;
        bool onSQLite;
        std::function<void()> change;
        QStringList named;
    } cases[] = {
        {"wrong password",
         true,
         false,
         [&] { bases_.cPassword = secret; },
         {server, user, name, QStringLiteral("Access denied")}},
        {"missing database",
         true,
         true,
         [&] { bases_.cMiBase = QStringLiteral("noexiste"); },
         {QStringLiteral("noexiste")}},
        {"closed port",
         true,
         false,
         [&] {
             bases_.cRuta = QStringLiteral("127.0.0.1");
             bases_.cPuerto = 1;
         },
         {QStringLiteral("127.0.0.1"), QStringLiteral("puerto 1,")}},
        {"port that is no number",
         true,
         false,
         [&] { bases_.cPuerto = QStringLiteral("33o6"); },
         {QStringLiteral("\"33o6\"")}},
        {"no server", true, false, [&] { bases_.cRuta = QStringLiteral("  "); }, {name}},
        {"not a database file",
         false,
         true,
         badFile,
         {QStringLiteral("texto.db"), QStringLiteral("\"texto\"")}},
    };
    for (const auto& c : cases) {
        if (!(mariadb ? c.onMariaDB : c.onSQLite))
            continue;
        SCOPED_TRACE(c.name);
        db_->configure(bases_);
        ConnectionRef cn;
        ASSERT_TRUE(bases_.AbrirBdD(cn, db_->name()));
        c.change();
        EXPECT_FALSE(bases_.AbrirBdD(cn, bases_.cMiBase));
        EXPECT_FALSE(cn);
        const QString reason = bases_.UltimoError();
        for (const QString& part : c.named)
            EXPECT_TRUE(reason.contains(part))
                << reason.toStdString() << " / " << part.toStdString();
        EXPECT_FALSE(reason.contains(secret)) << reason.toStdString();
        if (!mariadb) {
            EXPECT_FALSE(QFile::exists(server.mid(7) + QStringLiteral("/noexiste.db")));
        }
    }
}

TEST_P(BasesDDTest, ClosingLeavesNothingUsable)
{
    addTicket(cn_, 1);
    ASSERT_TRUE(bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=1")));
    EXPECT_EQ(rs_->table().toStdString(), "tickets");
    RecordsetRef kept = rs_;
    bases_.CierraBdD(cn_);
    EXPECT_FALSE(cn_);
    EXPECT_FALSE(failureOf([&] {
                     kept->AddNew();
                     kept->setCollect(QStringLiteral("Venta"), 2);
                     kept->Update();
                 }).isEmpty());
    EXPECT_FALSE(
        failureOf([&] { bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets")); }).isEmpty());
    bases_.CierraTabla(rs_);
    EXPECT_FALSE(rs_);
    bases_.CierraTabla(rs_);
    bases_.CierraBdD(cn_);
}

// The MySQL driver costs a round trip per prepare: the per-ticket statements are prepared once.
TEST_P(BasesDDTest, PreparesEachStatementOnce)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "solo el servidor cuenta las preparaciones";
    const auto prepares = [&] {
        QSqlQuery status(cn_->database());
        EXPECT_TRUE(status.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Com_stmt_prepare'")));
        EXPECT_TRUE(status.next());
        return status.value(1).toInt();
    };
    addTicket(cn_, 0);
    bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=0 LIMIT 1"));
    const int before = prepares();
    for (int venta = 1; venta <= 5; ++venta) {
        bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=%1 LIMIT 1").arg(venta));
        addTicket(cn_, venta);
    }
    EXPECT_EQ(prepares() - before, 0);
    bases_.AbrirTabla(rs_, cn_, QStringLiteral("tickets WHERE Venta=1 LIMIT 2"));
    EXPECT_EQ(prepares() - before, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, BasesDDTest, testing::ValuesIn(testsupport::engines()),
                         testsupport::engineName);

// Without a base folder, a relative folder after "sqlite:" is taken from the program's folder,
// not the current one.
TEST(BasesDDSqliteTest, RelativeFolderIsTheProgramsFolder)
{
    TestDatabase db(Engine::SQLite);
    QTemporaryDir beside(QCoreApplication::applicationDirPath() + QStringLiteral("/gt-XXXXXX"));
    ASSERT_TRUE(beside.isValid());
    const QString file = db.name() + QStringLiteral(".db");
    ASSERT_TRUE(QFile::copy(db.server().mid(7) + u'/' + file, beside.filePath(file)));
    BasesDD bases;
    db.configure(bases);
    bases.cRuta = QStringLiteral("sqlite:") + QFileInfo(beside.path()).fileName();
    ConnectionRef cn;
    ASSERT_TRUE(bases.AbrirBdD(cn, db.name())) << bases.UltimoError().toStdString();
    EXPECT_EQ(cn->engine().driver().toStdString(), "QSQLITE");
    EXPECT_EQ(cn->describe().toStdString(), ("archivo " + beside.filePath(file)).toStdString());
}

// With a base folder (the data folder of an installed program), a relative folder after
// "sqlite:" is taken from it; an absolute one stays as written.
TEST(BasesDDSqliteTest, RelativeFolderIsTakenFromTheBaseFolder)
{
    TestDatabase db(Engine::SQLite);
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    ASSERT_TRUE(QDir(data.path()).mkdir(QStringLiteral("bases")));
    const QString file = db.name() + QStringLiteral(".db");
    const QString copy = data.filePath(QStringLiteral("bases/") + file);
    ASSERT_TRUE(QFile::copy(db.server().mid(7) + u'/' + file, copy));
    BasesDD bases;
    db.configure(bases);
    bases.cCarpetaBase = data.path();
    bases.cRuta = QStringLiteral("sqlite:bases");
    ConnectionRef cn;
    ASSERT_TRUE(bases.AbrirBdD(cn, db.name())) << bases.UltimoError().toStdString();
    EXPECT_EQ(cn->describe().toStdString(), ("archivo " + copy).toStdString());
    bases.CierraBdD(cn);

    db.configure(bases); // absolute: the base folder plays no part
    ASSERT_TRUE(bases.AbrirBdD(cn, db.name())) << bases.UltimoError().toStdString();
    EXPECT_EQ(cn->describe().toStdString(),
              ("archivo " + db.server().mid(7) + u'/' + file).toStdString());
}

} // namespace
