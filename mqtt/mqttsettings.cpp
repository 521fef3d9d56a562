#include "mqtt/mqttsettings.h"
#include "tables/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <sys/stat.h>

namespace qta::mqtt {

QString readSecretFile(const QString& path, QString& error) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("brak pliku %1").arg(path);
        return {};
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        error = QStringLiteral("plik %1 mogą czytać inni (uprawnienia %2); dozwolone 0600 "
                               "lub 0400 (chmod 600 %1)")
                    .arg(path)
                    .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return {};
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("nie można czytać pliku %1: %2").arg(path, f.errorString());
        return {};
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

TMqttSettings mqttSettings(const std::function<QString(const char*)>& value, const QString& baseDir,
                           QStringList& errors) {
    TMqttSettings s;
    s.host = value("Host");
    if (s.host.isEmpty())
        return s;
    const int before = int(errors.size());
    const auto number = [&](const char* key, int def, int lo, int hi) {
        return iniNumber("mqtt", key, value(key), def, lo, hi, errors);
    };
    const auto file = [&](const char* key) { return iniFilePath(baseDir, value(key)); };
    s.port = number("Port", 1883, 1, 65535);
    s.keepAlive = number("KeepAlive", 30, 5, 3600);
    s.clientId = value("ClientId");
    if (s.clientId.isEmpty())
        s.clientId = QStringLiteral("qta504d-") + QHostInfo::localHostName();
    s.user = value("User");
    s.passwordFile = file("PasswordFile");
    s.caFile = file("CaFile");
    s.certFile = file("CertFile");
    s.keyFile = file("KeyFile");
    const QString prefix = value("Prefix");
    if (!prefix.isEmpty())
        s.prefix = prefix;
    if (const QString ack = value("Potwierdzanie").toLower(); ack == QLatin1String("tak"))
        s.acknowledge = true;
    else if (!ack.isEmpty() && ack != QLatin1String("nie"))
        errors << QStringLiteral("[mqtt]: Potwierdzanie=%1: dozwolone tak lub nie")
                      .arg(value("Potwierdzanie"));
    if (s.prefix.contains(u'+') || s.prefix.contains(u'#') || s.prefix.endsWith(u'/'))
        errors << QStringLiteral("[mqtt]: Prefix=%1 nie nadaje się na początek tematu").arg(prefix);
    if (!s.passwordFile.isEmpty()) {
        QString error;
        s.password = readSecretFile(s.passwordFile, error);
        if (!error.isEmpty())
            errors
                << QStringLiteral("[mqtt]: PasswordFile: %1; hasło nie zostało użyte").arg(error);
    }
    if (!s.keyFile.isEmpty()) {
        QString error;
        readSecretFile(s.keyFile, error);
        if (!error.isEmpty())
            errors << QStringLiteral("[mqtt]: KeyFile: %1").arg(error);
    }
    if (s.certFile.isEmpty() != s.keyFile.isEmpty())
        errors << QStringLiteral("[mqtt]: CertFile= i KeyFile= podaje się razem");
    if (!s.certFile.isEmpty() && s.caFile.isEmpty())
        errors << QStringLiteral("[mqtt]: CertFile= wymaga CaFile= (TLS)");
    for (const QString& f : {s.caFile, s.certFile})
        if (!f.isEmpty() && !QFile::exists(f))
            errors << QStringLiteral("[mqtt]: brak pliku %1").arg(f);
    if (int(errors.size()) > before) {
        errors << QStringLiteral("[mqtt]: publikowanie wyłączone");
        s = TMqttSettings{};
    }
    return s;
}

TMqttSettings loadMqttSettings(const QString& iniPath, const QString& defaultClientId,
                               QString& name, QString& id, QStringList& errors) {
    CSimpleIniA ini;
    const TIniFile file = readIniFile(iniPath, ini);
    if (file.status == TIniFile::Missing)
        return {};
    if (!file.ok()) {
        errors << QStringLiteral("[mqtt]: ") + file.error;
        return {};
    }
    const auto value = [&](const char* key) {
        const char* v = ini.GetValue("mqtt", key, nullptr);
        const QString t = v ? QString::fromUtf8(v).trimmed() : QString();
        return t.isEmpty() && qstrcmp(key, "ClientId") == 0 ? defaultClientId : t;
    };
    name = value("Nazwa");
    id = value("Id");
    if (name.isEmpty())
        name = QHostInfo::localHostName();
    return mqttSettings(value, QFileInfo(iniPath).absolutePath(), errors);
}

} // namespace qta::mqtt
