// Desktop notifications through the freedesktop notification service on the
// session bus (org.freedesktop.Notifications). One notification per key: the
// same key shown again replaces its notification rather than stacking a new
// one. Calls never block the window thread; no bus or no service is not an
// error: nothing is shown (a bus without the service is said once on
// standard error; no bus at all is a run without a desktop and is not).
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>

namespace qta {

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit TDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                              QObject* parent = nullptr);

    // Shows, or replaces, the notification of `key`; critical ones have
    // urgency critical and stay until dismissed.
    void show(const QString& key, const QString& summary, const QString& body, bool critical);
    // Takes the notification of `key` away.
    void close(const QString& key);
    // False once the bus or the service has failed to answer.
    bool available() const { return available_; }

Q_SIGNALS:
    // The service answered a Notify call (tests follow the calls with it).
    void delivered(const QString& key, uint id);

private:
    struct Pending {
        bool waiting = false; // a Notify of this key has not answered yet
        bool again = false;   // show it once more when it has
        QString summary, body;
        bool critical = false;
        bool closeAfter = false;
    };
    void send(const QString& key);
    void unavailable(const QString& why);

    QDBusConnection bus_;
    QHash<QString, uint> ids_;
    QHash<QString, Pending> pending_;
    bool available_ = true;
    bool said_ = false;
};

} // namespace qta
