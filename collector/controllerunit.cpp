#include "collector/controllerunit.h"

#include "alarms/alarm.h"
#include "core/workfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace qta {

namespace {
// A network line's name as the log may show it: a password in it never.
QString shownPort(const QString& port) {
    if (!port.contains(QLatin1String("://")))
        return port;
    QUrl url(port);
    if (!url.isValid())
        return QStringLiteral("(nazwa portu nieprawidłowa)");
    url.setPassword(QString());
    return url.toString();
}
} // namespace

TControllerUnit::TControllerUnit(const TControllerEntry& entry, QObject* parent)
    : QObject(parent), entry_(entry), core_(this), start_(core_, this) {
    core_.setDataFolder(entry_.folder);
    connect(&core_.Alarmy, &TAlarmEngine::transition, this,
            [this](const TAlarm& a, AlarmTransition t) {
                const bool high = a.priority == AlarmPriority::High;
                log(t == AlarmTransition::Raised ? (high ? LogLevel::Error : LogLevel::Warning)
                                                 : LogLevel::Notice,
                    QStringLiteral("alarm „%1” (%2): %3")
                        .arg(a.text, priorityText(a.priority), transitionText(t)));
            });
}

TControllerUnit::~TControllerUnit() { stop(); }

void TControllerUnit::log(LogLevel level, const QString& text) {
    // Whatever names the port (the start cycle's texts, a port error) names
    // it without a password.
    QString line = text;
    const QString shown = shownPort(entry_.port);
    if (shown != entry_.port)
        line.replace(entry_.port, shown);
    collectorLog(level, entry_.name, line);
}

bool TControllerUnit::start() {
    if (running_)
        return true;
    const QString folder = entry_.folder;
    if (!QDir().mkpath(folder)) {
        log(LogLevel::Error, QStringLiteral("nie można utworzyć folderu danych %1").arg(folder));
        return false;
    }
    // The lock first: a folder that another program works in is not touched.
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral(".qta504.lock")));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        if (lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &host, &app))
            log(LogLevel::Error,
                QStringLiteral("folder %1 jest zajęty przez %2 (PID %3, komputer %4); "
                               "sterownik nie będzie obsługiwany")
                    .arg(folder, app.isEmpty() ? QStringLiteral("inny program") : app)
                    .arg(pid)
                    .arg(host));
        else
            log(LogLevel::Error,
                QStringLiteral("nie można założyć blokady folderu %1").arg(folder));
        return false;
    }
    try {
        const QStringList made = prepareWorkFolder(folder);
        if (!made.isEmpty())
            log(LogLevel::Notice, QStringLiteral("utworzono w folderze %1: %2")
                                      .arg(folder, made.join(QStringLiteral(", "))));
        core_.openTables();
    } catch (const std::exception& e) {
        log(LogLevel::Error, QString::fromUtf8(e.what()));
        core_.closeAll();
        return false;
    }
    lock_ = std::move(lock);
    running_ = true;
    modbus_ = std::make_unique<modbus::TModbusUnit>(core_);
    log(LogLevel::Info,
        QStringLiteral("folder %1, łączę z %2").arg(folder, shownPort(entry_.port)));
    start_.setOnlyPort(entry_.port);
    start_.FormCreate();
    startPublisher();
    return true;
}

void TControllerUnit::setMqtt(const mqtt::TMqttSettings& settings, const QString& id) {
    if (settings == mqtt_ && id == entry_.id && (publisher_ || !running_ || !settings.enabled()))
        return;
    mqtt_ = settings;
    entry_.id = id;
    if (publisher_) {
        publisher_->stop();
        publisher_.reset();
    }
    if (running_)
        startPublisher();
}

void TControllerUnit::startPublisher() {
    if (!mqtt_.enabled() || publisher_)
        return;
    publisher_ = std::make_unique<mqtt::TControllerPublisher>(
        core_, entry_.name, entry_.id, mqtt_,
        [this](int level, const QString& text) { log(LogLevel(level), text); });
    publisher_->start();
}

void TControllerUnit::stop() {
    if (!running_)
        return;
    running_ = false;
    start_.Timer.stop();
    if (publisher_) {
        publisher_->stop(); // offline, the replay position saved
        publisher_.reset();
    }
    modbus_.reset();
    core_.closeAll();
    lock_.reset(); // unlocks
    log(LogLevel::Info, QStringLiteral("zatrzymano, tabele zamknięte"));
}

// ---------------------------------------------------------------- TMainView

void TControllerUnit::setStatusPanel(int panel, const QString& text) {
    if (panel == 0) {
        // Set at every frame; said when the link comes or goes.
        const bool up = text.startsWith(QStringLiteral("Połączono"));
        const bool down = text.startsWith(QStringLiteral("Brak połączenia"));
        if (up && !connected_) {
            connected_ = true;
            log(LogLevel::Info,
                QStringLiteral("połączono z %1").arg(shownPort(core_.ComPort.Port())));
        } else if (down && connected_) {
            connected_ = false;
            log(LogLevel::Warning, QStringLiteral("brak połączenia z %1, ponawiam")
                                       .arg(shownPort(core_.ComPort.Port())));
        }
    } else if (panel == 2 && text != faults_) {
        faults_ = text;
        if (text.isEmpty())
            log(LogLevel::Notice, QStringLiteral("koniec awarii"));
        else
            log(LogLevel::Warning, QStringLiteral("awaria: %1").arg(text));
    }
}

QString TControllerUnit::statusPanel(int panel) const { return panel == 2 ? faults_ : QString(); }

void TControllerUnit::reportError(const QString& message) {
    // The core reports a failing table once; a repeat of the same words is no news.
    if (message == lastError_)
        return;
    lastError_ = message;
    log(LogLevel::Error, message);
}

// ---------------------------------------------------------------- TStartView

void TControllerUnit::setStatusText(const QString& text) {
    startText_ = text;
    QString plain = text;
    while (plain.endsWith(QLatin1Char('.')))
        plain.chop(1);
    // The cycle tries the port every second: each outcome is said once a search.
    // ("PORT x niedostępny" and "Port x niedostępny" are one outcome.)
    const QString key = plain.toLower();
    if (plain.startsWith(QStringLiteral("Sprawdzam port")) || startSaid_.contains(key) ||
        plain.isEmpty())
        return;
    startSaid_ << key;
    const qsizetype word = plain.indexOf(QLatin1Char(' '));
    const QString first = plain.left(word < 0 ? plain.size() : word);
    log(LogLevel::Info,
        (first == first.toUpper() ? first.toLower() : first.left(1).toLower() + first.mid(1)) +
            plain.mid(first.size()));
}

void TControllerUnit::closeWindow() {
    startSaid_.clear();
    log(LogLevel::Info,
        QStringLiteral("sterownik %1 odczytany (identyfikator, konfiguracja, ustawienia)")
            .arg(core_.Konfig.Id.trimmed()));
}

} // namespace qta
