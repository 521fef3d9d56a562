// What the program tells about a serial port: the stable by-id name that
// survives a replug, the label with the adapter's description, and the advice
// for a port the user may not open.
#include "link/portinfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qta;

namespace {

// portPermissionProblem(port) as seen by an unprivileged account: as root
// every device is open to us, so the question is asked in a child process
// that has dropped to "nobody". Returns "<skip>" when that is not possible.
QString problemAsNobody(const QString& port) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        return portPermissionProblem(port);
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("<skip>");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0)
            ::_exit(3);
        const QByteArray text = portPermissionProblem(port).toUtf8();
        const bool ok = ::write(fds[1], text.constData(), size_t(text.size())) == text.size();
        ::_exit(ok ? 0 : 4);
    }
    ::close(fds[1]);
    QByteArray out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<child failed %1>").arg(status);
    return QString::fromUtf8(out);
}

} // namespace

class TestPortInfo : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp_;
    QString at(const QString& rel) const { return tmp_->filePath(rel); }
    void touch(const QString& rel) {
        QFile f(at(rel));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

private Q_SLOTS:
    void init() {
        tmp_ = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp_->isValid());
        QVERIFY(QDir().mkpath(at("dev")) && QDir().mkpath(at("by-id")));
    }
    void cleanup() { tmp_.reset(); }

    // The link that leads to the device, whichever name the device is asked by.
    void stableName() {
        touch("dev/ttyUSB0");
        touch("dev/ttyUSB1");
        touch("dev/ttyS0");
        QVERIFY(QFile::link(at("dev/ttyUSB0"), at("by-id/usb-FTDI_FT232R_A50285BI-if00-port0")));
        QVERIFY(QFile::link(at("dev/ttyUSB1"), at("by-id/usb-Prolific_PL2303-if00-port0")));
        QVERIFY(QFile::link(at("dev/ttyUSB7"), at("by-id/usb-gone-if00-port0"))); // dangling
        QVERIFY(QFile::link(at("dev/ttyUSB1"), at("elsewhere")));
        const QString byId = at("by-id");

        QCOMPARE(stablePortName(at("dev/ttyUSB0"), byId),
                 at("by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
        QCOMPARE(stablePortName(at("elsewhere"), byId), at("by-id/usb-Prolific_PL2303-if00-port0"));
        QCOMPARE(stablePortName(at("dev/ttyS0"), byId), QString());   // not a USB adapter
        QCOMPARE(stablePortName(at("dev/ttyUSB7"), byId), QString()); // no such device
        QCOMPARE(stablePortName(at("dev/ttyUSB0"), at("no-by-id")), QString());
        QCOMPARE(portInfo(at("dev/ttyUSB1"), byId).stableName,
                 at("by-id/usb-Prolific_PL2303-if00-port0"));

        // Replugged, the adapter comes back as ttyUSB1; its link follows it.
        QVERIFY(QFile::remove(at("by-id/usb-FTDI_FT232R_A50285BI-if00-port0")));
        QVERIFY(QFile::remove(at("by-id/usb-Prolific_PL2303-if00-port0")));
        QVERIFY(QFile::link(at("dev/ttyUSB1"), at("by-id/usb-FTDI_FT232R_A50285BI-if00-port0")));
        QCOMPARE(stablePortName(at("dev/ttyUSB1"), byId),
                 at("by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
    }

    void label_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("label");
        QTest::newRow("both") << "FT232R USB UART"
                              << "A50285BI"
                              << "ttyUSB0 (FT232R USB UART, nr seryjny A50285BI)";
        QTest::newRow("description only") << "USB-Serial Controller"
                                          << ""
                                          << "ttyUSB0 (USB-Serial Controller)";
        QTest::newRow("serial only") << ""
                                     << "0001"
                                     << "ttyUSB0 (nr seryjny 0001)";
        QTest::newRow("nothing known") << ""
                                       << ""
                                       << "ttyUSB0";
    }
    void label() {
        QFETCH(QString, description);
        QFETCH(QString, serial);
        QFETCH(QString, label);
        QCOMPARE(portLabel({QStringLiteral("ttyUSB0"), description, serial, {}}), label);
    }

    // A device of group dialout, closed to others: the advice names the group
    // and the command; a device open to us, or none at all, is no such problem.
    void permission() {
        const group* dialout = ::getgrnam("dialout");
        if (::geteuid() != 0 || !dialout || !::getpwnam("nobody"))
            QSKIP("needs root (to own a device file as group dialout) and the account nobody");
        QVERIFY(QFile::setPermissions(tmp_->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ExeGroup |
                                                        QFile::ExeOther));
        touch("dev/ttyUSB0");
        const QByteArray dev = QFile::encodeName(at("dev/ttyUSB0"));
        QVERIFY(::chown(dev.constData(), 0, dialout->gr_gid) == 0);
        QVERIFY(::chmod(dev.constData(), 0660) == 0);
        QVERIFY(QFile::link(at("dev/ttyUSB0"), at("by-id/usb-x")));

        QString text = problemAsNobody(at("by-id/usb-x"));
        QVERIFY2(text.startsWith(QStringLiteral("Brak uprawnień do portu ") + at("by-id/usb-x") +
                                 QStringLiteral(" (") + at("dev/ttyUSB0") + u')'),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("grupy dialout")) &&
                     text.contains(QStringLiteral("sudo adduser nobody dialout")) &&
                     text.contains(QStringLiteral("wyloguj się i zaloguj ponownie")),
                 qPrintable(text));

        // Only the owner may use it: no group would help.
        QVERIFY(::chmod(dev.constData(), 0600) == 0);
        text = problemAsNobody(at("dev/ttyUSB0"));
        QVERIFY2(text.contains(QStringLiteral("właściciela root")) &&
                     text.contains(QStringLiteral("prawa 600")) && !text.contains("adduser"),
                 qPrintable(text));

        QVERIFY(::chmod(dev.constData(), 0666) == 0);
        QCOMPARE(problemAsNobody(at("dev/ttyUSB0")), QString());
        QCOMPARE(problemAsNobody(at("dev/ttyUSB9")), QString());
    }
};

QTEST_GUILESS_MAIN(TestPortInfo)
#include "tst_portinfo.moc"
