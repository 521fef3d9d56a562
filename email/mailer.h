// The collector's alarm e-mail: one for the whole site. Alarm transitions
// of every controller go to the planner (batches of 30 s per recipient, the
// hourly limit and its summary: mailplan.h); each message it lets go is
// composed (mailtext.h) and put in the queue on disk (mailqueue.h) before
// anything is sent; the queue is sent one message at a time (smtpsender.h).
//
// A message the server did not take stays queued and is tried again after
// 1 s, 2 s, 4 s ... up to 10 min (a refusal of that one message delays it
// alone; a server that cannot be reached, or refuses the login, delays the
// whole queue). A failure is said once, as an error when only a change of
// settings mends it (the login, the certificate), and the first message
// delivered after it is said too. The queue and the open batches survive a
// restart, also a SIGKILL.
#pragma once

#include "email/emailsettings.h"
#include "email/mailplan.h"
#include "email/mailqueue.h"
#include "email/smtpsender.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace qta::email {

class TMailer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(int level, const QString& text)>; // level as LogLevel

    // `queueDir` holds the queue and the planner's state (made 0700).
    TMailer(const TEmailSettings& settings, const QString& queueDir, Log log,
            const TMailTimes& times = {}, QObject* parent = nullptr);
    ~TMailer() override;

    // Reads the queue and the state the last run left, and begins sending.
    void start();
    // Gives up the message under way (it stays queued) and saves the state.
    void stop();

    // A controller's alarm transition; `alarms` its waiting alarms after it.
    void transition(const TMailEvent& e, const TControllerAlarms& alarms);

    const TEmailSettings& settings() const { return settings_; }
    const TMailQueue& queue() const { return queue_; }

    // Test seam: QTA504D_EMAIL_TIMES="GROUP,HOUR,RETRY" in milliseconds (the
    // batch time, the limit's hour, the first retry delay; the longest delay
    // stays 600 times the first). Unset or malformed: the real times.
    static TMailTimes timesFromEnvironment();

private:
    void say(int level, const QString& text);
    void schedule();
    void onDue();
    void saveState();
    void pump();
    void onSent(const TSmtpResult& r);
    QString where() const;

    TEmailSettings settings_;
    Log log_;
    TMailTimes times_;
    TMailPlanner planner_;
    TMailQueue queue_;
    TSmtpSender sender_;
    QString stateFile_;
    TMailStyle style_;
    QTimer dueTimer_, retryTimer_;
    QElapsedTimer clock_;
    quint64 inFlight_ = 0;
    qint64 retryMs_;
    qint64 serverNotBefore_ = 0;
    QString lastSaid_;   // the last failure of sending said; repeats are not
    QString stateError_; // likewise for the state file
    bool pumpQueued_ = false;
    bool running_ = false;
    std::unique_ptr<QLockFile> lock_; // the queue's, held while running
};

} // namespace qta::email
