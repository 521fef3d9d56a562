#include "app/publishing.h"

#include "core/controller.h"

#include <QHostInfo>
#include <QStatusBar>
#include <cstdio>

namespace qta {

TDesktopPublishing::TDesktopPublishing(TQTA504Core& core, QStatusBar* bar,
                                       std::function<void(const QString&)> reportError,
                                       QObject* parent)
    : QObject(parent), core_(core), bar_(bar), reportError_(std::move(reportError)) {}

TDesktopPublishing::~TDesktopPublishing() { stop(); }

bool TDesktopPublishing::start() {
    if (publisher_)
        return true;
    QString name, id;
    QStringList errors;
    const mqtt::TMqttSettings settings = mqtt::loadMqttSettings(
        core_.settingsPath(), QStringLiteral("qta504-") + QHostInfo::localHostName(), name, id,
        errors);
    if (!errors.isEmpty())
        reportError_(QStringLiteral("Ustawienia MQTT w %1: %2")
                         .arg(core_.settingsPath(), errors.join(QStringLiteral("; "))));
    if (!settings.enabled())
        return false;
    where_ = QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
    if (bar_) {
        label_ = new QLabel(bar_);
        label_->setObjectName(QStringLiteral("StatusBar_MQTT"));
        label_->setAccessibleDescription(QStringLiteral("StatusBar_MQTT"));
        bar_->addPermanentWidget(label_);
    }
    show(QStringLiteral("MQTT: łączę"), QStringLiteral("łączę z brokerem %1").arg(where_));
    publisher_ = std::make_unique<mqtt::TControllerPublisher>(
        core_, name, id, settings, [this](int level, const QString& text) {
            std::fprintf(stderr, "qta504: %s\n", qPrintable(text));
            if (level <= 4) // a failure: the indicator says which until the next connection
                show(QStringLiteral("MQTT: brak połączenia"), text);
        });
    connect(publisher_.get(), &mqtt::TControllerPublisher::connectionChanged, this,
            [this](bool up) {
                if (up)
                    show(QStringLiteral("MQTT: połączono"),
                         QStringLiteral("połączono z brokerem %1").arg(where_));
                else
                    show(QStringLiteral("MQTT: brak połączenia"),
                         QStringLiteral("brak połączenia z brokerem %1").arg(where_));
            });
    publisher_->start();
    return true;
}

void TDesktopPublishing::stop() {
    if (publisher_) {
        publisher_->stop();
        publisher_.reset();
    }
}

void TDesktopPublishing::show(const QString& text, const QString& detail) {
    if (!label_)
        return;
    // Short, beside the fixed panels; the whole story in the tooltip.
    label_->setText(text);
    label_->setToolTip(detail);
    label_->setAccessibleName(QStringLiteral("Publikowanie MQTT: ") + detail);
}

} // namespace qta
