// A mail server for the tests: tests/smtpsink.py (Debian's python3-aiosmtpd)
// on a free 127.0.0.1 port, plain or requiring STARTTLS with the
// certificates makeCertificates() made, and a login whose password it reads
// from a file. What it received is read back by tests/mailread.py with
// Python's email package.
#pragma once

#include "mosquittoproc.h"
#include "serverproc.h"
#include "testpaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

namespace qta::test {

// Debian's python3, the one with its packages (another python3 may come
// first on the PATH).
inline QString systemPython() {
    const QString p =
        QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    return p.isEmpty() ? QStringLiteral("python3") : p;
}

class SmtpServer {
public:
    // `tlsName`: require STARTTLS with makeCertificates(dir, tlsName);
    // `user`: require a login with `password`.
    explicit SmtpServer(const QString& dir, const QString& tlsName = {}, const QString& user = {},
                        const QByteArray& password = {})
        : dir_(dir), mail_(dir + QStringLiteral("/mail")), port_(freePort()) {
        args_ << sourcePath(QStringLiteral("tests/smtpsink.py")) << QStringLiteral("--port")
              << QString::number(port_) << QStringLiteral("--dir") << mail_;
        if (!tlsName.isEmpty())
            args_ << QStringLiteral("--tls-cert") << dir + u'/' + tlsName + "-server.crt"
                  << QStringLiteral("--tls-key") << dir + u'/' + tlsName + "-server.key";
        if (!user.isEmpty()) {
            const QString pw = dir + QStringLiteral("/smtp-server.pw");
            writeSecret(pw, password + '\n');
            args_ << QStringLiteral("--user") << user << QStringLiteral("--password-file") << pw;
        }
    }

    bool start() { return proc_.start(systemPython(), args_, port_); }
    void stop() { proc_.stop(); }
    quint16 port() const { return port_; }
    QString output() { return proc_.output(); }

    // How many messages it has taken.
    int count() const {
        return int(QDir(mail_).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
    }
    // Every message taken, in order, as tests/mailread.py reads them.
    QJsonArray messages() const {
        QProcess p;
        p.start(systemPython(), {sourcePath(QStringLiteral("tests/mailread.py")), mail_});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            qWarning() << "mailread.py:" << p.readAllStandardError();
            return {};
        }
        return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    }
    // The login attempts: "ok USER" or "refused USER".
    QStringList logins() const {
        QFile f(mail_ + QStringLiteral("/auth.log"));
        return f.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    }

private:
    QString dir_, mail_;
    quint16 port_;
    QStringList args_;
    ServerProcess proc_;
};

} // namespace qta::test
