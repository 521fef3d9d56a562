// The site console's HTTP side against a real collector (one simulated
// controller, plain HTTP on the loopback): bad input of every kind as one
// table of raw bytes and the status each must get, the connection limit, a
// WebSocket frame over the limit; and, without a process, the sessions'
// expiry, the sign-in delays and the certificate the collector makes.
#include "collectorproc.h"
#include "serverproc.h"
#include "simprocess.h"
#include "waituntil.h"
#include "web/certificate.h"
#include "web/sessions.h"
#include "web/webserver.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qta::web;

namespace {

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until the peer closes, one whole answer (headers and
// Content-Length) has come, or `ms` passed.
QByteArray readAnswer(int fd, int ms = 5000) {
    QByteArray in;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[8192];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        in.append(buf, n);
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end >= 0) {
            const QByteArray head = in.left(end).toLower();
            const qsizetype cl = head.indexOf("content-length:");
            const qsizetype len =
                cl < 0 ? 0
                       : head.mid(cl + 15, head.indexOf('\r', cl) - cl - 15).trimmed().toLongLong();
            if (in.size() >= end + 4 + len)
                break;
        }
    }
    return in;
}

void sendAll(int fd, const QByteArray& b) {
    qsizetype done = 0;
    while (done < b.size()) {
        const ssize_t n = ::send(fd, b.constData() + done, size_t(b.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += n;
    }
}

int statusOf(const QByteArray& answer) {
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

bool peerClosed(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    char c;
    return ::recv(fd, &c, 1, MSG_PEEK) == 0;
}

} // namespace

class TstWebConsole : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<qta::test::Collector> collector_;
    quint16 port_ = 0;
    QByteArray host_;

    QByteArray request(const QByteArray& raw) {
        const int fd = connectTo(port_);
        sendAll(fd, raw);
        const QByteArray a = readAnswer(fd);
        ::close(fd);
        return a;
    }
    QByteArray get(const QByteArray& path, const QByteArray& extra = {}) {
        return request("GET " + path + " HTTP/1.1\r\nHost: " + host_ + "\r\n" + extra + "\r\n");
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        sim_ = std::make_unique<SimProcess>(
            dir_.filePath(QStringLiteral("sim")), dir_.filePath(QStringLiteral("sim.log")),
            QStringList{QStringLiteral("--period"), QStringLiteral("500")});
        QVERIFY(sim_->ready());
        port_ = qta::test::freePort();
        host_ = "127.0.0.1:" + QByteArray::number(port_);
        const QString config = dir_.filePath(QStringLiteral("collector.ini"));
        QFile f(config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[collector]\nDataRoot=" + dir_.filePath(QStringLiteral("dane")).toUtf8() +
                "\n[N1]\nPort=" + dir_.filePath(QStringLiteral("sim")).toUtf8() +
                "\n[web]\nListen=" + host_ + "\n");
        f.close();
        QDir(dir_.path()).mkdir(QStringLiteral("dane"));
        QProcess add;
        add.start(qta::test::binPath(QStringLiteral("qta504d")),
                  {QStringLiteral("--config"), config, QStringLiteral("--user"),
                   QStringLiteral("add"), QStringLiteral("jan"), QStringLiteral("--role"),
                   QStringLiteral("operator")});
        add.write("haslo-jana-1\n");
        add.closeWriteChannel();
        QVERIFY(add.waitForFinished(10000));
        QCOMPARE(add.exitCode(), 0);
        collector_ = std::make_unique<qta::test::Collector>(config);
        QVERIFY(waitUntil([&] { return collector_->saidPart(QStringLiteral("konsola: http://")); },
                          10000));
    }
    void cleanupTestCase() {
        collector_.reset();
        sim_.reset();
    }

    void badInput_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("status");
        const QByteArray h = "Host: 127.0.0.1\r\n";
        QTest::newRow("request line over 2 KiB")
            << "GET /" + QByteArray(3000, 'a') + " HTTP/1.1\r\n" + h + "\r\n"
            << 414;
        QTest::newRow("headers over 8 KiB")
            << "GET / HTTP/1.1\r\n" + h + "X-A: " + QByteArray(9000, 'a') + "\r\n\r\n"
            << 431;
        QByteArray many = "GET / HTTP/1.1\r\n" + h;
        for (int i = 0; i < 70; ++i)
            many += "X-" + QByteArray::number(i) + ": 1\r\n";
        QTest::newRow("70 header lines") << many + "\r\n" << 431;
        QTest::newRow("body over 16 KiB")
            << "POST /api/login HTTP/1.1\r\n" + h + "Content-Length: 20000\r\n\r\n"
            << 413;
        QTest::newRow("chunked body")
            << "POST /api/login HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n"
            << 411;
        QTest::newRow("length not a number")
            << "POST /api/login HTTP/1.1\r\n" + h + "Content-Length: 1e3\r\n\r\n"
            << 400;
        QTest::newRow("two lengths")
            << "POST /api/login HTTP/1.1\r\n" + h + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n"
            << 400;
        QTest::newRow("not a request line") << QByteArray("GARBAGE\r\n\r\n") << 400;
        QTest::newRow("header without colon") << "GET / HTTP/1.1\r\n" + h + "NoColon\r\n\r\n"
                                              << 400;
        QTest::newRow("HTTP/2.0 in text") << "GET / HTTP/2.0\r\n" + h + "\r\n" << 505;
        QTest::newRow("NUL in target") << "GET /a\0b HTTP/1.1\r\n"_qba + h + "\r\n" << 400;
        QTest::newRow("dot-dot") << "GET /static/../users HTTP/1.1\r\n" + h + "\r\n" << 400;
        QTest::newRow("encoded dots") << "GET /static/%2e%2e/users HTTP/1.1\r\n" + h + "\r\n"
                                      << 400;
        QTest::newRow("encoded slash") << "GET /static/a%2Fb.js HTTP/1.1\r\n" + h + "\r\n" << 400;
        QTest::newRow("encoded backslash") << "GET /static/..%5cusers HTTP/1.1\r\n" + h + "\r\n"
                                           << 400;
        QTest::newRow("doubled slash") << "GET //etc/passwd HTTP/1.1\r\n" + h + "\r\n" << 400;
        QTest::newRow("unknown static file") << "GET /static/nope.js HTTP/1.1\r\n" + h + "\r\n"
                                             << 401;
        QTest::newRow("odd static name") << "GET /static/users HTTP/1.1\r\n" + h + "\r\n" << 404;
        QTest::newRow("unknown method") << "DELETE / HTTP/1.1\r\n" + h + "\r\n" << 405;
        QTest::newRow("api without session") << "GET /api/session HTTP/1.1\r\n" + h + "\r\n" << 401;
        QTest::newRow("page without session") << "GET /alarmy HTTP/1.1\r\n" + h + "\r\n" << 303;
        QTest::newRow("websocket elsewhere")
            << "GET /api/session HTTP/1.1\r\n" + h +
                   "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                   "dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n"
            << 404;
        QTest::newRow("websocket without session")
            << "GET /ws HTTP/1.1\r\n" + h +
                   "Origin: http://127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: "
                   "13\r\n\r\n"
            << 401;
        QTest::newRow("sign-in not JSON")
            << "POST /api/login HTTP/1.1\r\n" + h +
                   "Origin: http://127.0.0.1\r\nContent-Length: 2\r\n\r\nab"
            << 415;
        QTest::newRow("sign-in from another origin")
            << "POST /api/login HTTP/1.1\r\n" + h +
                   "Origin: http://evil.example\r\nContent-Type: "
                   "application/json\r\nContent-Length: 2\r\n\r\n{}"
            << 403;
    }
    void badInput() {
        QFETCH(QByteArray, raw);
        QFETCH(int, status);
        const QByteArray answer = request(raw);
        QCOMPARE(statusOf(answer), status);
        QVERIFY2(answer.contains("X-Content-Type-Options: nosniff"), answer.constData());
        // Nothing of it costs the next client anything.
        QCOMPARE(statusOf(get("/static/style.css")), 200);
    }

    void plainLoopbackCookieIsNotSecure() {
        const QByteArray body = R"({"user":"jan","password":"haslo-jana-1"})";
        const QByteArray a =
            request("POST /api/login HTTP/1.1\r\nHost: " + host_ + "\r\nOrigin: http://" + host_ +
                    "\r\nContent-Type: application/json\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QCOMPARE(statusOf(a), 200);
        const qsizetype at = a.indexOf("Set-Cookie: ");
        const QByteArray cookie = a.mid(at, a.indexOf("\r\n", at) - at);
        QVERIFY(cookie.contains("HttpOnly; SameSite=Strict"));
        QVERIFY(!cookie.contains("Secure"));
        const QByteArray id = cookie.mid(cookie.indexOf('=') + 1, 64);

        // A WebSocket frame past the limit ends that connection with 1009.
        const int fd = connectTo(port_);
        sendAll(
            fd,
            "GET /ws HTTP/1.1\r\nHost: " + host_ + "\r\nOrigin: http://" + host_ +
                "\r\nCookie: qta_sesja=" + id +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QByteArray in;
        QElapsedTimer t;
        t.start();
        while (!in.contains("\r\n\r\n") && t.elapsed() < 5000) {
            char buf[4096];
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                in.append(buf, n);
            }
        }
        QVERIFY2(in.startsWith("HTTP/1.1 101"), in.constData());
        QByteArray frame("\x81\xfe", 2); // text, masked, 16-bit length
        frame += char(2000 >> 8);
        frame += char(2000 & 0xff);
        frame += QByteArray(4, '\x11') + QByteArray(2000, 'a');
        sendAll(fd, frame);
        QByteArray rest;
        t.restart();
        while (t.elapsed() < 5000) {
            char buf[65536];
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            rest.append(buf, n);
        }
        ::close(fd);
        // A close frame (0x88) with code 1009 somewhere after the snapshot.
        QVERIFY(rest.contains(QByteArray("\x88\x02\x03\xf1", 4)) ||
                rest.contains(QByteArray("\x03\xf1", 2)));
    }

    void connectionsPerAddressAreLimited() {
        std::vector<int> fds;
        for (int i = 0; i < kMaxConnectionsPerAddress; ++i)
            fds.push_back(connectTo(port_));
        QTest::qWait(300);
        const int extra = connectTo(port_);
        QVERIFY(peerClosed(extra, 3000));
        for (int fd : fds)
            QVERIFY(!peerClosed(fd, 10));
        for (int fd : fds)
            ::close(fd);
        ::close(extra);
        QVERIFY(waitUntil([&] { return statusOf(get("/static/style.css")) == 200; }, 3000));
    }

    // A request that never ends, dripped a byte a second: answered 408 and
    // closed once the request time is up, however often bytes come.
    void unfinishedRequestTimesOut() {
        const int fd = connectTo(port_);
        QVERIFY(fd >= 0);
        const QByteArray drip = "GET /static/style.css HTTP/1.1\r\nHost: " + host_ +
                                "\r\nX-Slow: " + QByteArray(64, 'a');
        QElapsedTimer t;
        t.start();
        QByteArray answer;
        for (qsizetype i = 0;
             i < drip.size() && answer.isEmpty() && t.elapsed() < kRequestTimeoutMs + 10000; ++i) {
            sendAll(fd, drip.mid(i, 1));
            answer = readAnswer(fd, 1000); // waits for the answer, a second at most
        }
        QCOMPARE(statusOf(answer), 408);
        QVERIFY2(t.elapsed() >= kRequestTimeoutMs - 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(peerClosed(fd, 3000));
        ::close(fd);
        QCOMPARE(statusOf(get("/static/style.css")), 200);
    }

    void sessionsExpire() {
        qint64 now = 0;
        TSessionStore store;
        store.setClock([&] { return now; });
        std::vector<EndReason> ended;
        store.onEnded([&](const TSession&, EndReason r) { ended.push_back(r); });
        const QByteArray a = store.create(QStringLiteral("jan"), Role::Operator, "g1", {}).id;
        const QByteArray b = store.create(QStringLiteral("ewa"), Role::Viewer, "g2", {}).id;
        QCOMPARE(a.size(), 64);
        QVERIFY(a != b);
        // Touched every 29 minutes: alive until 12 h in all.
        for (now = 29 * 60000; now < kLifetimeMs; now += 29 * 60000)
            QVERIFY(store.find(a) != nullptr);
        now = kLifetimeMs - 1;
        QVERIFY(store.find(b, false) == nullptr); // idle 30 min: gone
        now = kLifetimeMs;
        QVERIFY(store.find(a) == nullptr);
        QCOMPARE(ended, (std::vector<EndReason>{EndReason::Idle, EndReason::Lifetime}));

        now = 0;
        ended.clear();
        const QByteArray c = store.create(QStringLiteral("jan"), Role::Operator, "g1", {}).id;
        store.create(QStringLiteral("ewa"), Role::Viewer, "g2", {});
        store.sweep(
            [](const QString& u) { return u == u"jan" ? QByteArray("g1") : QByteArray("g3"); });
        QCOMPARE(ended, (std::vector<EndReason>{EndReason::UserChanged}));
        QVERIFY(store.find(c));
        QVERIFY(!store.find(c.left(63) + 'x'));
    }

    void signInDelays() {
        qint64 now = 0;
        TSignInLimiter l;
        l.setClock([&] { return now; });
        const QString addr = QStringLiteral("10.0.0.1");
        QList<qint64> delays;
        for (int i = 0; i < 9; ++i) {
            delays << l.delayMs(QStringLiteral("Jan"), addr);
            l.failed(QStringLiteral("jan"), addr);
        }
        QCOMPARE(delays, (QList<qint64>{0, 0, 0, 0, 0, 1000, 2000, 4000, 8000}));
        // Another name from that address waits too; the name from elsewhere too.
        QCOMPARE(l.delayMs(QStringLiteral("ewa"), addr), 16000);
        QCOMPARE(l.delayMs(QStringLiteral("jan"), QStringLiteral("10.0.0.2")), 16000);
        for (int i = 0; i < 10; ++i)
            l.failed(QStringLiteral("jan"), addr);
        QCOMPARE(l.delayMs(QStringLiteral("jan"), addr), TSignInLimiter::kMaxDelayMs);
        now += TSignInLimiter::kForgetMs;
        QCOMPARE(l.delayMs(QStringLiteral("jan"), addr), 0);
        for (int i = 0; i < 6; ++i)
            l.failed(QStringLiteral("jan"), addr);
        l.succeeded(QStringLiteral("jan"), addr);
        QCOMPARE(l.delayMs(QStringLiteral("jan"), addr), 0);
    }

    void ownCertificateIsMadeOnceAndServesTls() {
        QTemporaryDir state;
        TCertificate first, second;
        QString error;
        QVERIFY2(loadCertificate({}, {}, state.path(), QHostAddress(QStringLiteral("192.0.2.7")),
                                 first, error),
                 qPrintable(error));
        QVERIFY(first.made);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(first.keyFile).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QVERIFY(loadCertificate({}, {}, state.path(), {}, second, error));
        QVERIFY(!second.made);
        QCOMPARE(second.fingerprint(), first.fingerprint());
        QCOMPARE(first.fingerprint().size(), 32 * 3 - 1);
        QVERIFY(first.certificate.subjectAlternativeNames()
                    .values(QSsl::IpAddressEntry)
                    .contains(QStringLiteral("192.0.2.7")));

        TWebServer server;
        server.setHandler([](const THttpRequest& r, const TReply& reply) {
            THttpResponse ok;
            ok.body = r.tls ? "tls" : "plain";
            reply.send(ok);
        });
        QVERIFY(server.start({QHostAddress(QHostAddress::LocalHost), 0}, &first, error));
        QSslSocket client;
        client.setPeerVerifyMode(QSslSocket::VerifyNone);
        client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.port());
        QVERIFY(waitUntil([&] { return client.isEncrypted(); }, 5000));
        QCOMPARE(client.peerCertificate().digest(QCryptographicHash::Sha256),
                 first.certificate.digest(QCryptographicHash::Sha256));
        client.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(waitUntil([&] { return client.peek(4096).endsWith("tls"); }, 5000));
    }
};

QTEST_GUILESS_MAIN(TstWebConsole)
#include "tst_webconsole.moc"
