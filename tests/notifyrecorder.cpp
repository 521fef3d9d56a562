// A desktop notification service for the tests: owns
// org.freedesktop.Notifications on the session bus it is started on and
// appends every call to the file named on its command line, one JSON object
// a line. Prints "ready" once the name is owned.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>
#include <cstdio>

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit Recorder(const QString& file) : file_(file) {}

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        const uint id = replacesId ? replacesId : ++last_;
        QJsonObject o{{"method", "Notify"},
                      {"app_name", appName},
                      {"replaces_id", qint64(replacesId)},
                      {"id", qint64(id)},
                      {"app_icon", appIcon},
                      {"summary", summary},
                      {"body", body},
                      {"actions", actions.size()},
                      {"urgency", hints.value(QStringLiteral("urgency")).toInt()},
                      {"expire_timeout", expireTimeout}};
        write(o);
        return id;
    }
    void CloseNotification(uint id) {
        write({{"method", "CloseNotification"}, {"id", qint64(id)}});
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    // The bus method's fourth answer: the version of the notification
    // protocol this service speaks.
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion) {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("notifyrecorder");
    }

private:
    void write(const QJsonObject& o) {
        QFile f(file_);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append))
            f.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    }
    QString file_;
    uint last_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: notifyrecorder FILE\n");
        return 2;
    }
    Recorder recorder(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notifyrecorder: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "notifyrecorder.moc"
