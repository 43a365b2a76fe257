#include "generation/RunControl.h"

#include "generation/ScanFixture.h"
#include "support/Failure.h"

#include <QThread>

using namespace testsupport;
using support::Answer;
using support::Buttons;
using support::Icon;
using support::Message;

namespace {

const Message kAsk{QStringLiteral("Proceder"),
                   QStringLiteral("¿Desea proceder a generar los tickets?"), Icon::Question,
                   Buttons::YesNo, Answer::No};
const Message kEnd{QStringLiteral("Fin"), QStringLiteral("Proceso terminado"), Icon::Information,
                   Buttons::Ok, Answer::Ok};

// The run needs what start-up leaves: the support objects with their connection properties.
class RunControlTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        state.cnBase.reset(); // the run opens its own
        state.oExcel.reset();
    }
};

TEST_P(RunControlTest, MissingWorkbookIsReportedAndTheWindowKeepsWaiting)
{
    state.cArchivo = dir.filePath(QStringLiteral("no-existe.csv"));
    EXPECT_FALSE(generation::cmdProceder_Click(state, surface));
    ASSERT_EQ(surface.messages.size(), 1u);
    EXPECT_EQ(surface.messages[0], (Message{QStringLiteral("Error"),
                                            QStringLiteral("No existe el archivo:\r\n") +
                                                state.cArchivo + QStringLiteral("\r\n"),
                                            Icon::Critical, Buttons::Ok, Answer::Ok}));
    EXPECT_TRUE(surface.enabled);
    EXPECT_EQ(state.cnBase, nullptr);

    // Once the file is there, the next press asks.
    writeFile(state.cArchivo, csv({{}}));
    surface.answers = {Answer::No};
    EXPECT_FALSE(generation::cmdProceder_Click(state, surface));
    EXPECT_EQ(surface.messages.back(), kAsk);
}

TEST_P(RunControlTest, NoOpensNothingThenYesRunsTheWholeJob)
{
    writeFile(state.cArchivo, csv({{}, sale(QStringLiteral("1"), QStringLiteral("9.99"))}));
    surface.answers = {Answer::No};
    EXPECT_FALSE(generation::cmdProceder_Click(state, surface));
    EXPECT_EQ(state.cnBase, nullptr);
    EXPECT_EQ(state.oExcel, nullptr);
    EXPECT_TRUE(tickets().isEmpty());

    surface.events.clear();
    surface.answers = {Answer::Yes};
    EXPECT_TRUE(generation::cmdProceder_Click(state, surface));
    support::Message end = kEnd;
    end.informative = QStringLiteral(
        "Renglones leídos: 51\nRenglones de venta: 1\nTickets escritos: 1\n"
        "Números que ya existían: 0\nRenglones pasados por alto: 0 (marcador \"0\": 0, importe "
        "no mayor que cero: 0)\nPrimer ticket: 100\nÚltimo ticket: 100\n"
        "Suma de los importes escritos: 9.99");
    EXPECT_EQ(surface.messages.back(), end);
    EXPECT_EQ(surface.events,
              (QStringList{QStringLiteral("message Proceder"), QStringLiteral("disabled"),
                           QStringLiteral("Label1 visible"), QStringLiteral("Label1 cleared"),
                           QStringLiteral("Label1 cleared"), QStringLiteral("enabled"),
                           QStringLiteral("message Fin")}));
    EXPECT_TRUE(surface.label1Visible);
    EXPECT_TRUE(surface.label1.isEmpty());
    EXPECT_EQ(state.cnBase, nullptr); // closed
    EXPECT_EQ(tickets(), QStringList{QStringLiteral("100|2026-12-07|9.99|9.99")});
}

TEST_P(RunControlTest, ADatabaseThatDoesNotOpenIsAFailureThatNamesItWithoutThePassword)
{
    writeFile(state.cArchivo, csv({{}, sale(QStringLiteral("1"), QStringLiteral("1"))}));
    support::oBases->cMiBase = QStringLiteral("no_existe_esta_base");
    const QString password = support::oBases->cPassword;
    surface.answers = {Answer::Yes};
    try {
        generation::cmdProceder_Click(state, surface);
        FAIL() << "the run should fail";
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.title(), QStringLiteral("Error"));
        EXPECT_TRUE(failure.message().contains(QStringLiteral("no_existe_esta_base")))
            << failure.what();
        if (!password.isEmpty()) {
            EXPECT_FALSE(failure.message().contains(password)) << failure.what();
        }
    }
    EXPECT_FALSE(surface.label1Visible);
    EXPECT_EQ(state.oExcel, nullptr);
    EXPECT_EQ(state.oLibro, nullptr);
    EXPECT_FALSE(surface.enabled); // the error report ends the program from here
}

// The workbook is read while the database opens: the database's failure still comes first, and
// the workbook's is reported as it was read, with nothing written.
TEST_P(RunControlTest, ADamagedWorkbookIsReportedAfterTheDatabaseAndWritesNothing)
{
    state.cArchivo = dir.filePath(QStringLiteral("ventas.xlsx"));
    writeFile(state.cArchivo, QByteArray("PK\x03\x04 esto no es un libro"));
    const QString database = support::oBases->cMiBase;
    support::oBases->cMiBase = QStringLiteral("no_existe_esta_base");
    surface.answers = {Answer::Yes};
    try {
        generation::cmdProceder_Click(state, surface);
        ADD_FAILURE() << "the run should fail";
    } catch (const support::Failure& failure) {
        EXPECT_TRUE(failure.message().startsWith(QStringLiteral("No se pudo abrir la base")))
            << failure.what();
    }
    EXPECT_EQ(state.oExcel, nullptr);

    support::oBases->cMiBase = database;
    surface.answers = {Answer::Yes};
    try {
        generation::cmdProceder_Click(state, surface);
        ADD_FAILURE() << "the run should fail";
    } catch (const std::exception& failure) {
        const QString message = support::failureText(failure);
        EXPECT_TRUE(message.contains(QStringLiteral("está dañado"))) << failure.what();
        EXPECT_TRUE(message.contains(state.cArchivo)) << failure.what();
    }
    EXPECT_TRUE(tickets().isEmpty());
}

// A sink the caller brings is still told the run's lock check, asked on a connection that is
// not the lock's: it holds while the run holds the lock, and refuses once the run is over.
TEST_P(RunControlTest, ACallersSinkIsToldTheRunsLockCheck)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "a file lock lasts as long as the process";
    class CheckingSink : public generation::TicketSink {
    public:
        void prepare(const generation::CommitCheck& beforeCommit) override { check = beforeCommit; }
        bool isTaken(std::int32_t) override { return false; }
        void write(const generation::Ticket&) override
        {
            ASSERT_TRUE(check);
            EXPECT_NO_THROW(check(*writer));
            ++written;
        }
        void finish() override {}
        generation::CommitCheck check;
        krvt5::Connection* writer = nullptr;
        int written = 0;
    } sink;
    krvt5::ConnectionRef writer;
    ASSERT_TRUE(support::oBases->AbrirBdD(writer, db->name()))
        << support::oBases->UltimoError().toStdString();
    sink.writer = writer.get();
    writeFile(state.cArchivo, csv({{}, sale(QStringLiteral("1"), QStringLiteral("1"))}));
    generation::ProcesarVentas(state, surface, nullptr, &sink);
    EXPECT_EQ(sink.written, 1);
    // The server lets the lock go once it has ended the run's session, a moment after the run
    // closed it.
    bool refused = false;
    for (int tries = 0; tries < 5000 && !refused; ++tries) {
        try {
            sink.check(*writer);
            QThread::msleep(1);
        } catch (const support::Failure&) {
            refused = true;
        }
    }
    EXPECT_TRUE(refused);
    support::oBases->CierraBdD(writer);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunControlTest, testing::ValuesIn(engines()), engineName);

} // namespace
