// mosquitto started by a test on a free 127.0.0.1 port with a configuration
// the test writes (no anonymous clients, a password file made with
// mosquitto_passwd -U, optionally TLS from a CA the test makes with openssl),
// and mosquitto_sub as a subscriber with a persistent session. Passwords go
// through files only, never on a command line.
#pragma once

#include "serverproc.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

namespace qta::test {

inline bool writeSecret(const QString& path, const QByteArray& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return f.write(text) == text.size();
}

inline bool runTool(const QString& program, const QStringList& args, const QString& dir = {}) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << program << args << p.readAll();
        return false;
    }
    return true;
}

// A CA and a server certificate for 127.0.0.1 signed by it (EC keys, made
// in `dir` as NAME-ca.crt, NAME-server.crt, NAME-server.key).
inline bool makeCertificates(const QString& dir, const QString& name) {
    const QString ca = name + QStringLiteral("-ca"), srv = name + QStringLiteral("-server");
    QFile ext(dir + QStringLiteral("/san.cnf"));
    if (!ext.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    return runTool("openssl",
                   QStringList{"req", "-x509"} + ec +
                       QStringList{"-keyout", ca + ".key", "-out", ca + ".crt", "-days", "2",
                                   "-subj", "/CN=" + ca},
                   dir) &&
           runTool("openssl",
                   QStringList{"req"} + ec +
                       QStringList{"-keyout", srv + ".key", "-out", srv + ".csr", "-subj",
                                   "/CN=127.0.0.1"},
                   dir) &&
           runTool("openssl",
                   {"x509", "-req", "-in", srv + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
                    "-CAcreateserial", "-out", srv + ".crt", "-days", "2", "-extfile", "san.cnf"},
                   dir) &&
           QFile::setPermissions(dir + "/" + srv + ".key", QFile::ReadOwner | QFile::WriteOwner);
}

class Mosquitto {
public:
    // Users as "user:password" lines; `tlsName` non-empty: a TLS listener with
    // the certificates makeCertificates(dir, tlsName) made; `acl` non-empty:
    // the text of its ACL file (who may read and write which topics).
    Mosquitto(const QString& dir, const QStringList& users, const QString& tlsName = {},
              const QByteArray& acl = {})
        : dir_(dir), port_(freePort()) {
        const QString passwdFile = dir + QStringLiteral("/passwd");
        ok_ = writeSecret(passwdFile, users.join(u'\n').toUtf8() + '\n') &&
              runTool(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-U"), passwdFile});
        const struct passwd* pw = ::getpwuid(::getuid());
        QString conf =
            QStringLiteral("listener %1 127.0.0.1\n"
                           "allow_anonymous false\n"
                           "password_file %2\n"
                           "persistence true\n"
                           "persistence_location %3/\n"
                           "log_dest file %3/mosquitto.log\n"
                           "log_type all\n"
                           "user %4\n")
                .arg(port_)
                .arg(passwdFile, dir, QString::fromLocal8Bit(pw ? pw->pw_name : "nobody"));
        if (!tlsName.isEmpty())
            conf += QStringLiteral("cafile %1/%2-ca.crt\ncertfile %1/%2-server.crt\n"
                                   "keyfile %1/%2-server.key\n")
                        .arg(dir, tlsName);
        if (!acl.isEmpty()) {
            const QString aclFile = dir + QStringLiteral("/acl");
            ok_ = ok_ && writeSecret(aclFile, acl);
            conf += QStringLiteral("acl_file %1\n").arg(aclFile);
        }
        QFile f(dir + QStringLiteral("/mosquitto.conf"));
        ok_ = ok_ && f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              f.write(conf.toUtf8()) == conf.toUtf8().size();
    }
    Mosquitto(const Mosquitto&) = delete;
    Mosquitto& operator=(const Mosquitto&) = delete;

    bool start() {
        return ok_ &&
               proc_.start(serverProgram(QStringLiteral("mosquitto")),
                           {QStringLiteral("-c"), dir_ + QStringLiteral("/mosquitto.conf")}, port_);
    }
    // SIGTERM: the broker saves its sessions (persistence) and ends.
    void stop() { proc_.stop(); }
    quint16 port() const { return port_; }
    // Its log (written to a file: its standard output is buffered).
    QString output() {
        QFile f(dir_ + QStringLiteral("/mosquitto.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }
    int count(const QString& part) { return int(output().count(part)); }

private:
    QString dir_;
    quint16 port_;
    bool ok_ = false;
    ServerProcess proc_;
};

// One message published with mosquitto_pub as `user`, client id "pub-USER"
// (QoS 1; `retain`: a
// retained one, an empty `payload` clearing it). The password goes through
// its options file. Whether mosquitto_pub ended well (a broker that drops a
// message the ACL denies still answers it).
inline bool publishAs(const QString& dir, quint16 port, const QString& user,
                      const QString& password, const QString& topic, const QByteArray& payload,
                      bool retain = false) {
    const QString config = dir + QStringLiteral("/pubconf-") + user;
    QDir().mkpath(config);
    if (!writeSecret(config + QStringLiteral("/mosquitto_pub"),
                     QStringLiteral("-u %1\n-P %2\n").arg(user, password).toUtf8()))
        return false;
    QProcess pub;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    pub.setProcessEnvironment(env);
    QStringList args{"-h",          "127.0.0.1", "-p", QString::number(port), "-q", "1", "-i",
                     "pub-" + user, "-t",        topic};
    if (retain)
        args << "-r";
    if (payload.isEmpty())
        args << "-n";
    else
        args << "-m" << QString::fromUtf8(payload);
    pub.start(QStringLiteral("mosquitto_pub"), args);
    return pub.waitForFinished(10000) && pub.exitStatus() == QProcess::NormalExit &&
           pub.exitCode() == 0;
}

// mosquitto_sub -v on the broker with a persistent session (QoS 1), so that
// what is published while it reconnects after a broker restart still
// reaches it. Its user and password come from its options file.
class Subscriber {
public:
    Subscriber(const QString& dir, quint16 port, const QString& user, const QString& password,
               const QStringList& topics, const QString& caFile = {}) {
        const QString config = dir + QStringLiteral("/subconf");
        QDir().mkpath(config);
        writeSecret(config + QStringLiteral("/mosquitto_sub"),
                    QStringLiteral("-u %1\n-P %2\n").arg(user, password).toUtf8());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        proc_.setProcessEnvironment(env);
        QStringList args{"-h", "127.0.0.1",
                         "-p", QString::number(port),
                         "-v", "-q",
                         "1",  "-c",
                         "-i", "tst-sub-" + QString::number(port)};
        if (!caFile.isEmpty())
            args << "--cafile" << caFile;
        for (const QString& t : topics)
            args << "-t" << t;
        proc_.start(QStringLiteral("mosquitto_sub"), args);
        proc_.waitForStarted(5000);
    }
    ~Subscriber() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(3000))
                proc_.kill();
            proc_.waitForFinished(3000);
        }
    }
    // Every message so far as "topic payload", in arrival order.
    QStringList lines() {
        text_ += QString::fromUtf8(proc_.readAllStandardOutput());
        const qsizetype end = text_.lastIndexOf(u'\n');
        return end < 0 ? QStringList() : text_.left(end).split(u'\n', Qt::SkipEmptyParts);
    }
    // The payloads published on `topic`, in arrival order.
    QStringList payloads(const QString& topic) {
        QStringList out;
        const QString head = topic + u' ';
        for (const QString& l : lines())
            if (l.startsWith(head))
                out << l.mid(head.size());
        return out;
    }
    QString errors() { return QString::fromLocal8Bit(proc_.readAllStandardError()); }

private:
    QProcess proc_;
    QString text_;
};

} // namespace qta::test
