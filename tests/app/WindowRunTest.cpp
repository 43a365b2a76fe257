#include "app/RecordingBoxes.h"
#include "app/frmPrincipal.h"
#include "common/Files.h"
#include "common/Installation.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

using namespace testsupport;
using support::Answer;
using support::Buttons;
using support::Icon;
using support::Message;

namespace {

QStringList sale(const QString& marker, const QString& amount, const QString& descrip)
{
    return {QString(), marker,    QString(), QStringLiteral("07/12/2026"),
            amount,    QString(), QString(), descrip};
}

// The real window started over a prepared program folder and POS installation, driven as a
// user would: load, press, answer the boxes.
class WindowRunTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        place = std::make_unique<Installation>(*db);
        window = std::make_unique<app::frmPrincipal>(boxes);
        window->setProgramFile(place->executable());
    }

    void press() { window->findChild<QPushButton*>(QStringLiteral("cmdProceder"))->click(); }
    QLabel* label1() { return window->findChild<QLabel*>(QStringLiteral("Label1")); }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;
    testapp::RecordingBoxes boxes;
    std::unique_ptr<app::frmPrincipal> window;
};

TEST_P(WindowRunTest, StartPressConfirmWritesTheTicketsAndEnds)
{
    place->writeWorkbook(
        {{QStringLiteral("Folio"), QStringLiteral("Marca")},
         sale(QStringLiteral("V"), QStringLiteral("10.50"), QStringLiteral("café")),
         sale(QStringLiteral("0"), QStringLiteral("99"), QStringLiteral("no")),
         sale(QStringLiteral("V"), QStringLiteral("20"), QStringLiteral("pan"))});
    ASSERT_TRUE(window->load());
    EXPECT_EQ(window->caption(support::Label::Label3),
              QStringLiteral(" Servidor: ") + db->server() + QStringLiteral("\r  Base de datos: ") +
                  db->name() + QStringLiteral("\r\nArchivo:\r\n") + place->workbook() +
                  QStringLiteral("\r\nTicket inicial: 500"));
    window->show();

    boxes.answerNext(Answer::No);
    press();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0], (Message{QStringLiteral("Proceder"),
                                       QStringLiteral("¿Desea proceder a generar los tickets?"),
                                       Icon::Question, Buttons::YesNo, Answer::No}));
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());

    boxes.answerNext(Answer::Yes);
    press();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2], (Message{QStringLiteral("Fin"), QStringLiteral("Proceso terminado"),
                                       Icon::Information, Buttons::Ok, Answer::Ok}));
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(window->exitStatus(), 0);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT t.Venta, d.Descrip FROM tickets t JOIN "
                                      "ticketsdetalle d ON d.IdTicket = t.Id ORDER BY t.Venta")),
              (std::vector<QStringList>{{QStringLiteral("500"), QStringLiteral("CAFÉ")},
                                        {QStringLiteral("501"), QStringLiteral("PAN")}}));
    const QString log = QString::fromUtf8(readFile(place->logFile()));
    EXPECT_TRUE(log.contains(QStringLiteral("Renglón 2: ticket 500 escrito"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Tickets escritos: 2"))) << log.toStdString();
}

TEST_P(WindowRunTest, MissingWorkbookIsReportedThenTheRunProceedsOnceItExists)
{
    ASSERT_TRUE(window->load());
    press();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0], (Message{QStringLiteral("Error"),
                                       QStringLiteral("No existe el archivo:\r\n") +
                                           place->workbook() + QStringLiteral("\r\n"),
                                       Icon::Critical, Buttons::Ok, Answer::Ok}));
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(window->isEnabled());

    place->writeWorkbook({{}, sale(QStringLiteral("V"), QStringLiteral("1"), QString())});
    boxes.answerNext(Answer::Yes);
    press();
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(window->exitStatus(), 0);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 1u);
}

TEST_P(WindowRunTest, ADatabaseThatDoesNotOpenEndsWithAnErrorNamingItAndNeverShowsProgress)
{
    place->writeSettings(QStringLiteral("base_que_no_existe"), place->workbook(),
                         QStringLiteral("1"));
    place->writeWorkbook({{}, sale(QStringLiteral("V"), QStringLiteral("1"), QString())});
    ASSERT_TRUE(window->load());
    window->show();
    boxes.answerNext(Answer::Yes);
    press();
    ASSERT_EQ(boxes.shown.size(), 2u);
    const Message& error = boxes.shown[1];
    EXPECT_EQ(error.title, QStringLiteral("Error"));
    EXPECT_EQ(error.icon, Icon::Critical);
    EXPECT_TRUE(error.text.contains(QStringLiteral("base_que_no_existe")))
        << error.text.toStdString();
    if (!db->password().isEmpty()) {
        EXPECT_FALSE(error.text.contains(db->password()));
    }
    EXPECT_FALSE(label1()->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(window->exitStatus(), 1);
}

TEST_P(WindowRunTest, AWrongInstallationPathEndsWithoutAWindow)
{
    writeFile(place->settingsFile(), "[Conexión]\r\nRuta de Vantrel Premium=/no/hay/vantrel\r\n");
    EXPECT_FALSE(window->load());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Atención"));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("En el archivo de configuración (") + place->settingsFile() +
                  QStringLiteral(")\rde este programa debe indicarse la ruta correcta de Vantrel "
                                 "Premium\rRuta indicada e incorrecta: /no/hay/vantrel"));
    EXPECT_TRUE(window->unloaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(window->exitStatus(), 0);
}

TEST_P(WindowRunTest, AFailureDuringTheRunIsReportedWithItsRowAndKeepsEarlierTickets)
{
    place->writeWorkbook({{},
                          sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("a")),
                          {QString(), QStringLiteral("V"), QString(), QStringLiteral("31/02/2026"),
                           QStringLiteral("2")}});
    ASSERT_TRUE(window->load());
    boxes.answerNext(Answer::Yes);
    press();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].title, QStringLiteral("generar-tickets"));
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("31/02/2026")));
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("renglón 3")));
    EXPECT_EQ(window->exitStatus(), 1);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 1u);
    const QString log = QString::fromUtf8(readFile(place->logFile()));
    EXPECT_TRUE(log.contains(QStringLiteral("Falla:"))) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, WindowRunTest, testing::ValuesIn(engines()), engineName);

} // namespace
