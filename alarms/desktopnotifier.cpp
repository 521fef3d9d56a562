#include "alarms/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <cstdio>

namespace qta {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    // No session bus at all is a run without a desktop (a service, a test):
    // nothing to notify on, and nothing worth a line on standard error.
    if (!bus_.isConnected()) {
        available_ = false;
        said_ = true;
    }
}

void TDesktopNotifier::unavailable(const QString& why) {
    available_ = false;
    if (said_)
        return;
    said_ = true;
    std::fprintf(stderr, "qta504: powiadomienia pulpitu niedostępne (%s)\n", qPrintable(why));
}

void TDesktopNotifier::show(const QString& key, const QString& summary, const QString& body,
                            bool critical) {
    Pending& p = pending_[key];
    p.summary = summary;
    p.body = body;
    p.critical = critical;
    p.closeAfter = false;
    if (p.waiting) {
        p.again = true; // sent once the first call has given the id to replace
        return;
    }
    send(key);
}

void TDesktopNotifier::send(const QString& key) {
    if (!bus_.isConnected())
        return;
    Pending& p = pending_[key];
    p.waiting = true;
    p.again = false;
    QDBusMessage m =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(p.critical ? 2 : 1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("qta504"));
    m << QStringLiteral("QTA-504") << ids_.value(key, 0u) << QStringLiteral("qta504") << p.summary
      << p.body << QStringList() << hints << qint32(p.critical ? 0 : -1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                Pending& done = pending_[key];
                done.waiting = false;
                if (reply.isError()) {
                    unavailable(reply.error().message());
                    return;
                }
                available_ = true;
                ids_.insert(key, reply.value());
                Q_EMIT delivered(key, reply.value());
                if (done.closeAfter) {
                    close(key);
                    return;
                }
                if (done.again)
                    send(key);
            });
}

void TDesktopNotifier::close(const QString& key) {
    auto p = pending_.find(key);
    if (p != pending_.end() && p->waiting) {
        p->closeAfter = true; // the id is not known yet
        p->again = false;
        return;
    }
    if (!ids_.contains(key) || !bus_.isConnected())
        return;
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                    QStringLiteral("CloseNotification"));
    m << ids_.take(key);
    bus_.asyncCall(m, 5000);
}

} // namespace qta
