#include "app/RecordingBoxes.h"
#include "app/frmPrincipal.h"
#include "common/Files.h"
#include "common/Installation.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <deque>
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
    // The question as it always was, with what the check found under it.
    EXPECT_EQ(boxes.shown[0],
              (Message{QStringLiteral("Proceder"),
                       QStringLiteral("¿Desea proceder a generar los tickets?"), Icon::Question,
                       Buttons::YesNo, Answer::No,
                       QStringLiteral("Tickets que se escribirán: 2 (del 500 al 501)\n"
                                      "Números que ya existen: 0\n"
                                      "Renglones que se pasarán por alto: 1 (marcador \"0\": 1, "
                                      "importe no mayor que cero: 0)\n"
                                      "Sin avisos.")}));
    EXPECT_FALSE(label1()->isVisibleTo(window.get()));
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());

    boxes.answerNext(Answer::Yes);
    press();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(
        boxes.shown[2],
        (Message{QStringLiteral("Fin"), QStringLiteral("Proceso terminado"), Icon::Information,
                 Buttons::Ok, Answer::Ok,
                 QStringLiteral("Renglones leídos: 53\nRenglones de venta: 2\n"
                                "Tickets escritos: 2\nNúmeros que ya existían: 0\n"
                                "Renglones pasados por alto: 1 (marcador \"0\": 1, importe "
                                "no mayor que cero: 0)\nPrimer ticket: 500\n"
                                "Último ticket: 501\nSuma de los importes escritos: 30.50")}));
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

TEST_P(WindowRunTest, AMonthFirstWorkbookIsNamedBeforeAnythingIsWrittenAndNoWritesNothing)
{
    place->writeWorkbook({{},
                          {QString(), QStringLiteral("V"), QString(), QStringLiteral("12/01/2026"),
                           QStringLiteral("1")},
                          {QString(), QStringLiteral("V"), QString(), QStringLiteral("12/25/2026"),
                           QStringLiteral("2")}});
    ASSERT_TRUE(window->load());
    window->show();
    boxes.answerNext(Answer::No);
    press();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("¿Desea proceder a generar los tickets?"));
    const QString details = boxes.shown[0].informative;
    EXPECT_TRUE(details.contains(QStringLiteral("Avisos:\n- La columna D tiene fechas que sólo "
                                                "se leen con el día y el mes al revés")))
        << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("\"12/25/2026\" sólo es válida leída como "
                                                "mes/día/año")))
        << details.toStdString();
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());
    EXPECT_EQ(window->state().nTicket, 500); // the check numbered on a state of its own
}

TEST_P(WindowRunTest, AWorkbookForThisRunIsShownAndReadAndTheSettingsFileStaysAsItWas)
{
    place->writeWorkbook({{}, sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("a"))});
    // Started once so that every default is in the file; from then on nothing may change it.
    ASSERT_TRUE(window->load());
    window = std::make_unique<app::frmPrincipal>(boxes);
    window->setProgramFile(place->executable());
    const QByteArray settings = readFile(place->settingsFile());

    QTemporaryDir elsewhere;
    const QString other = elsewhere.filePath(QStringLiteral("otras ventas.csv"));
    writeFile(other, "x,Marca,x,Fecha,Importe\n,V,,07/12/2026,7\n,V,,07/12/2026,8\n");
    window->setWorkbookThisRun(other);
    ASSERT_TRUE(window->load());
    EXPECT_TRUE(window->caption(support::Label::Label3)
                    .contains(QStringLiteral("\r\nArchivo:\r\n") + other +
                              QStringLiteral("\r\nTicket inicial: 500")))
        << window->caption(support::Label::Label3).toStdString();
    EXPECT_EQ(window->state().cArchivo, other);
    boxes.answerNext(Answer::Yes);
    press();
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta, Efectivo FROM tickets ORDER BY Venta")).size(),
              2u);
    EXPECT_EQ(readFile(place->settingsFile()), settings);
    EXPECT_TRUE(QString::fromUtf8(readFile(place->logFile())).contains(other));
}

TEST_P(WindowRunTest, AWorkbookDroppedOnTheWindowReplacesTheSummarysForThisRun)
{
    ASSERT_TRUE(window->load());
    window->show();
    const QByteArray settings = readFile(place->settingsFile());
    QTemporaryDir elsewhere;
    const QString other = elsewhere.filePath(QStringLiteral("caja 2.xlsx"));
    const QString notAWorkbook = elsewhere.filePath(QStringLiteral("carta.pdf"));

    const auto drag = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        return drop.isAccepted();
    };
    EXPECT_FALSE(drag({QUrl::fromLocalFile(notAWorkbook)}));
    EXPECT_FALSE(drag({QUrl::fromLocalFile(other), QUrl::fromLocalFile(other)}));
    EXPECT_FALSE(drag({QUrl(QStringLiteral("https://example.com/ventas.csv"))}));
    EXPECT_EQ(window->state().cArchivo, place->workbook());

    EXPECT_TRUE(drag({QUrl::fromLocalFile(other)}));
    EXPECT_EQ(window->state().cArchivo, other);
    EXPECT_TRUE(window->caption(support::Label::Label3)
                    .contains(QStringLiteral("\r\nArchivo:\r\n") + other))
        << window->caption(support::Label::Label3).toStdString();
    EXPECT_EQ(readFile(place->settingsFile()), settings);

    // The press checks the dropped workbook, which is not there.
    press();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("No existe el archivo:\r\n") + other + QStringLiteral("\r\n"));
}

// The real window with the real message boxes, answered from the keyboard as a person would.
class WindowKeysTest : public testing::TestWithParam<Engine> {
protected:
    struct Box {
        QString title;
        QString informative;
        QString pressed;
    };

    // Answers the coming modal boxes, one key each, in order: waits for a box, notes it,
    // presses the key and waits for that box to close before looking for the next.
    void pressInNextBox(Qt::Key key)
    {
        keys.push_back(key);
        if (keys.size() == 1 && !current)
            QTimer::singleShot(0, [this] { poll(); });
    }

    void poll()
    {
        if (current) {
            QTimer::singleShot(0, [this] { poll(); });
            return;
        }
        if (keys.empty())
            return;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(0, [this] { poll(); });
            return;
        }
        seen.push_back({box->windowTitle(), box->informativeText(), {}});
        const std::size_t at = seen.size() - 1;
        QObject::connect(box, &QMessageBox::buttonClicked,
                         [this, at](QAbstractButton* b) { seen[at].pressed = b->text(); });
        current = box;
        const Qt::Key key = keys.front();
        keys.pop_front();
        QTest::keyClick(box, key);
        // A key that does not answer must not hang the test; the answer then reads "".
        QTimer::singleShot(5000, box, [box] { box->done(0); });
        QTimer::singleShot(0, [this] { poll(); });
    }

    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        place = std::make_unique<Installation>(*db);
        window = std::make_unique<app::frmPrincipal>(boxes);
        window->setProgramFile(place->executable());
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;
    app::QtMessageBoxes boxes;
    std::unique_ptr<app::frmPrincipal> window;
    std::vector<Box> seen;
    std::deque<Qt::Key> keys;
    QPointer<QMessageBox> current;
};

TEST_P(WindowKeysTest, NThenEscapeThenEnterAnswerNoAndSRunsAndEnterClosesTheEnd)
{
    place->writeWorkbook({{}, sale(QStringLiteral("V"), QStringLiteral("3"), QStringLiteral("a"))});
    ASSERT_TRUE(window->load());
    window->show();
    auto* button = window->findChild<QPushButton*>(QStringLiteral("cmdProceder"));
    for (Qt::Key no : {Qt::Key_N, Qt::Key_Escape, Qt::Key_Return}) {
        pressInNextBox(no);
        button->click();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().pressed, QStringLiteral("&No")) << int(no);
        EXPECT_TRUE(seen.back().informative.startsWith(
            QStringLiteral("Tickets que se escribirán: 1 (número 500)")));
        EXPECT_FALSE(window->unloaded());
        EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());
    }
    pressInNextBox(Qt::Key_S);
    pressInNextBox(Qt::Key_Return);
    button->click();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[3].pressed, QStringLiteral("&Sí"));
    EXPECT_EQ(seen[4].title, QStringLiteral("Fin"));
    EXPECT_EQ(seen[4].pressed, QStringLiteral("&Aceptar"));
    EXPECT_TRUE(seen[4].informative.contains(QStringLiteral("Tickets escritos: 1\n")));
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, WindowKeysTest, testing::ValuesIn(engines()), engineName);

INSTANTIATE_TEST_SUITE_P(Engines, WindowRunTest, testing::ValuesIn(engines()), engineName);

} // namespace
