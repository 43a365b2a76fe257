#include "generation/BulkSink.h"
#include "generation/ScanFixture.h"

#include <QUuid>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;

// A server that asks, after the program's LOAD DATA LOCAL, for another file than the one the
// statement names (a rogue server, or one in the middle) gets none of it, and the run still
// stores every ticket.

namespace {

// A TCP proxy between the program and the test server that rewrites the server's file request
// (the 0xFB packet answering a LOAD DATA statement) to name `wanted`, and keeps every byte the
// client sends. With `cutAtRequest`, it cuts the connection that gets that request instead,
// the server's and the client's side both, as a network that fails in the middle of a load.
class RewritingProxy {
public:
    RewritingProxy(int serverPort, QByteArray wanted, int cutAtRequest = 0)
        : serverPort_(serverPort), wanted_(std::move(wanted)), cutAtRequest_(cutAtRequest)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0) {
            ADD_FAILURE() << "the proxy cannot listen: " << std::strerror(errno);
            return;
        }
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::jthread([this] { acceptLoop(); });
    }

    ~RewritingProxy()
    {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_ = {};
        std::vector<std::jthread> pumps;
        {
            const std::lock_guard guard(mutex_);
            pumps.swap(pumps_);
        }
        pumps.clear(); // each ends when its connection closes or stopping_ is seen
        ::close(listener_);
    }

    int port() const { return port_; }

    int rewritten() const
    {
        const std::lock_guard guard(mutex_);
        return rewritten_;
    }

    QByteArray sentByClients() const
    {
        const std::lock_guard guard(mutex_);
        return sent_;
    }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    void acceptLoop()
    {
        while (!stopping_) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = loopback(serverPort_);
            if (server < 0 ||
                ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(client);
                if (server >= 0)
                    ::close(server);
                continue;
            }
            const std::lock_guard guard(mutex_);
            pumps_.emplace_back([this, client, server] { pump(client, server); });
        }
    }

    static bool sendAll(int fd, const QByteArray& bytes)
    {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n =
                ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += n;
        }
        return true;
    }

    // Whole packets off the front of `buffer`: 3 bytes of length, 1 of sequence, the payload.
    static std::vector<QByteArray> packets(QByteArray& buffer)
    {
        std::vector<QByteArray> out;
        while (buffer.size() >= 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(buffer.constData());
            const qsizetype length = b[0] | (b[1] << 8) | (b[2] << 16);
            if (buffer.size() < 4 + length)
                break;
            out.push_back(buffer.left(4 + length));
            buffer.remove(0, 4 + length);
        }
        return out;
    }

    void pump(int client, int server)
    {
        QByteArray fromClient;
        QByteArray fromServer;
        bool loadAsked = false;
        char chunk[65536];
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        while (!stopping_) {
            if (::poll(fds, 2, 200) < 0)
                break;
            bool closed = false;
            for (int side = 0; side < 2 && !closed; ++side) {
                if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(fds[side].fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    closed = true;
                    break;
                }
                if (side == 0) {
                    {
                        const std::lock_guard guard(mutex_);
                        sent_.append(chunk, n);
                    }
                    fromClient.append(chunk, n);
                    for (const QByteArray& packet : packets(fromClient)) {
                        // COM_QUERY (0x03) with the loader's statement.
                        if (packet.size() > 5 && packet[4] == '\x03' &&
                            packet.mid(5, 15).toUpper().startsWith("LOAD DATA LOCAL"))
                            loadAsked = true;
                        closed = closed || !sendAll(server, packet);
                    }
                } else {
                    fromServer.append(chunk, n);
                    for (QByteArray packet : packets(fromServer)) {
                        if (loadAsked && packet.size() > 4 && packet[4] == '\xFB' &&
                            ++requests_ == cutAtRequest_) {
                            closed = true;
                            break;
                        }
                        if (!wanted_.isEmpty() && loadAsked && packet.size() > 4 &&
                            packet[4] == '\xFB') {
                            const QByteArray payload = '\xFB' + wanted_;
                            packet = QByteArray(4, '\0') + payload;
                            packet[0] = char(payload.size() & 0xFF);
                            packet[1] = char((payload.size() >> 8) & 0xFF);
                            packet[2] = char((payload.size() >> 16) & 0xFF);
                            packet[3] = '\x01';
                            const std::lock_guard guard(mutex_);
                            ++rewritten_;
                        }
                        loadAsked = false;
                        closed = closed || !sendAll(client, packet);
                    }
                }
            }
            if (closed)
                break;
        }
        ::close(client);
        ::close(server);
    }

    int serverPort_;
    QByteArray wanted_;
    int cutAtRequest_;
    std::atomic<int> requests_{0};
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    int rewritten_ = 0;
    QByteArray sent_;
    std::vector<std::jthread> pumps_;
    std::jthread acceptor_;
};

class LoaderFileRequestTest : public ScanFixture {
protected:
    // Closes the run's database and opens it again at `host` and `port`.
    void reopenAt(const QString& host, const QString& port)
    {
        support::oBases->CierraBdD(state.cnBase);
        support::oBases->cRuta = host;
        support::oBases->cPuerto = port;
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()))
            << support::oBases->UltimoError().toStdString();
    }

    // The workbook's sales stored on the bulk path, in batches of `tickets`.
    generation::Figures storeInBatchesOf(int tickets)
    {
        generation::Figures figures;
        {
            generation::BulkSink sink(state, generation::ConnectionsLike(*support::oBases),
                                      generation::BatchLimits{tickets, 500});
            figures = generation::RecorrerHoja(state, surface, &sink);
        }
        support::oBases->CierraBdD(state.cnBase);
        return figures;
    }
};

TEST_P(LoaderFileRequestTest, AnotherFileAskedByTheServerIsRefusedAndTheTicketsGoByInserts)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    // A file the program may read that the server must never get.
    const QByteArray secret = "SECRETO-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    const QString secretFile = dir.filePath(QStringLiteral("secreto.txt"));
    writeFile(secretFile, secret + "\n");

    RewritingProxy proxy(db->port().toInt(), QFile::encodeName(secretFile));
    ASSERT_NE(proxy.port(), 0);
    ASSERT_NO_FATAL_FAILURE(reopenAt(support::oBases->cRuta, QString::number(proxy.port())));

    std::vector<QStringList> rows{{QStringLiteral("Folio"), QStringLiteral("Marca")}};
    for (int i = 0; i < 40; ++i)
        rows.push_back(sale(QString::number(i + 1), QStringLiteral("%1.25").arg(i + 1),
                            QStringLiteral("Venta %1").arg(i + 1)));
    writeFile(state.cArchivo, csv(rows));
    const generation::Figures figures = storeInBatchesOf(8);

    EXPECT_GE(proxy.rewritten(), 1) << "the proxy never saw the loader's file request";
    EXPECT_FALSE(proxy.sentByClients().contains(secret));
    EXPECT_EQ(figures.written, 40);
    const QStringList stored = tickets();
    ASSERT_EQ(stored.size(), 40);
    EXPECT_EQ(stored.front(), QStringLiteral("100|2026-12-07|1.25|1.25"));
    EXPECT_EQ(stored.back(), QStringLiteral("139|2026-12-07|40.25|40.25"));
    EXPECT_EQ(lines().filter(QStringLiteral("|linked")).size(), 40);
}

// A connection lost in the middle of a load fails every later statement too: the run stops at
// the batch's first ticket and says what befell the load, not what the next try met.
TEST_P(LoaderFileRequestTest, AConnectionLostDuringALoadIsToldAsSuch)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    RewritingProxy proxy(db->port().toInt(), {}, 3); // the second batch's headers
    ASSERT_NE(proxy.port(), 0);
    ASSERT_NO_FATAL_FAILURE(reopenAt(support::oBases->cRuta, QString::number(proxy.port())));
    std::vector<QStringList> rows{{}};
    for (int i = 0; i < 40; ++i)
        rows.push_back(sale(QStringLiteral("1"), QString::number(i + 1)));
    writeFile(state.cArchivo, csv(rows));
    QString message;
    int row = 0;
    try {
        storeInBatchesOf(8);
    } catch (const generation::WalkFailure& failure) {
        message = failure.message();
        row = failure.row;
    }
    ASSERT_FALSE(message.isEmpty()) << "the run should fail";
    EXPECT_TRUE(message.contains(QStringLiteral("No se pudo guardar el registro en la tabla")))
        << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("reservar"))) << message.toStdString();
    support::oBases->cPuerto = db->port();
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    EXPECT_EQ(tickets().size(), row - 2) << message.toStdString();
    EXPECT_EQ(lines().size(), row - 2);
}

TEST_P(LoaderFileRequestTest, TheLoaderStillSendsItsOwnFile)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    // The same proxy without rewriting: the loader's own rows do reach the server through it.
    RewritingProxy proxy(db->port().toInt(), {});
    ASSERT_NO_FATAL_FAILURE(reopenAt(support::oBases->cRuta, QString::number(proxy.port())));
    std::vector<QStringList> rows{{QStringLiteral("Folio"), QStringLiteral("Marca")}};
    for (int i = 0; i < 10; ++i)
        rows.push_back(
            sale(QString::number(i + 1), QStringLiteral("2"), QStringLiteral("Cargado-%1").arg(i)));
    writeFile(state.cArchivo, csv(rows));
    storeInBatchesOf(4);
    EXPECT_EQ(tickets().size(), 10u);
    // The loader's file holds the descriptions (in capitals) tab-separated; an INSERT would
    // quote them.
    EXPECT_TRUE(proxy.sentByClients().contains("\tCARGADO-3\t"));
}

// Through a Unix socket, which has no TCP options for the loader to set, the loader's rows
// arrive as over TCP.
TEST_P(LoaderFileRequestTest, TheLoaderSendsThroughTheServersUnixSocketToo)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    // The client library reads its default socket once, when the process begins.
    if (qgetenv("MYSQL_UNIX_PORT").isEmpty())
        GTEST_SKIP() << "MYSQL_UNIX_PORT does not name the test server's socket";
    ASSERT_NO_FATAL_FAILURE(
        reopenAt(QStringLiteral("localhost"), support::oBases->cPuerto.toString()));
    std::vector<QStringList> rows{{QStringLiteral("Folio"), QStringLiteral("Marca")}};
    for (int i = 0; i < 3000; ++i)
        rows.push_back(sale(QString::number(i + 1), QStringLiteral("%1.50").arg(i + 1),
                            QStringLiteral("Por el socket %1").arg(i + 1)));
    writeFile(state.cArchivo, csv(rows));
    // The server's count of loads: other tests may add to it, never take from it.
    const auto loads = [&] {
        return db->rows(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Com_load'"))
            .at(0)
            .at(1)
            .toLongLong();
    };
    const qlonglong loadsBefore = loads();
    const generation::Figures figures = storeInBatchesOf(1000);

    EXPECT_GE(loads() - loadsBefore, 2) << "the tickets did not go through the loader";
    EXPECT_EQ(figures.written, 3000);
    const QStringList stored = tickets();
    ASSERT_EQ(stored.size(), 3000);
    EXPECT_EQ(stored.back(), QStringLiteral("3099|2026-12-07|3000.50|3000.50"));
    EXPECT_EQ(lines().filter(QStringLiteral("|linked")).size(), 3000);
}

INSTANTIATE_TEST_SUITE_P(Engines, LoaderFileRequestTest, testing::ValuesIn(engines()), engineName);

} // namespace
