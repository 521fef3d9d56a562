#include "email/mailer.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <algorithm>

namespace qta::email {

namespace {
constexpr int kError = 3, kWarning = 4, kNotice = 5, kInfo = 6;

QString duration(qint64 ms) {
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms >= 60000 && ms % 60000 == 0)
        return QStringLiteral("%1 min").arg(ms / 60000);
    return QStringLiteral("%1 s").arg(ms / 1000);
}

// The right side of a Message-ID: the computer's name when it is a plain one.
QString idDomain(const QString& host) {
    for (const QChar c : host)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'.')
            return QStringLiteral("localhost");
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}
} // namespace

TMailTimes TMailer::timesFromEnvironment() {
    TMailTimes t;
    const QStringList parts = qEnvironmentVariable("QTA504D_EMAIL_TIMES").split(u',');
    if (parts.size() != 3)
        return t;
    qint64 v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toLongLong(&ok);
        if (!ok || v[i] < 1)
            return t;
    }
    return {v[0], v[1], v[2], v[2] * 600};
}

TMailer::TMailer(const TEmailSettings& settings, const QString& queueDir, Log log,
                 const TMailTimes& times, QObject* parent)
    : QObject(parent), settings_(settings), log_(std::move(log)), times_(times),
      planner_(settings.recipients, settings.perHour, times), queue_(queueDir, settings.queueLimit),
      sender_(settings), stateFile_(QDir(queueDir).filePath(QStringLiteral("stan.json"))),
      retryMs_(times.retryFirstMs) {
    style_.consoleUrl = settings_.consoleUrl;
    style_.hostName = QHostInfo::localHostName();
    style_.groupSeconds = int(std::max<qint64>(1, times_.groupMs / 1000));
    style_.perHour = settings_.perHour;
    dueTimer_.setSingleShot(true);
    connect(&dueTimer_, &QTimer::timeout, this, &TMailer::onDue);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &TMailer::pump);
    connect(&sender_, &TSmtpSender::finished, this, &TMailer::onSent);
    clock_.start();
}

TMailer::~TMailer() { stop(); }

QString TMailer::where() const {
    return QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.port);
}

void TMailer::say(int level, const QString& text) {
    if (log_)
        log_(level, QStringLiteral("poczta: ") + text);
}

void TMailer::start() {
    QString error;
    const bool onDisk = queue_.open(error);
    if (!onDisk)
        say(kError, error + QStringLiteral("; wiadomości czekają tylko w pamięci"));
    else if (!error.isEmpty())
        say(kWarning, error);
    // One sender per queue: another collector with the same data root would
    // send every message twice and overwrite the batches.
    if (onDisk) {
        lock_ = std::make_unique<QLockFile>(QDir(queue_.dir()).filePath(QStringLiteral(".lock")));
        lock_->setStaleLockTime(0);
        if (!lock_->tryLock(0)) {
            qint64 pid = 0;
            QString host, app;
            lock_->getLockInfo(&pid, &host, &app);
            say(kError, QStringLiteral("kolejka %1 jest zajęta przez inny proces (PID %2); "
                                       "wiadomości o alarmach nie będą wysyłane")
                            .arg(queue_.dir())
                            .arg(pid));
            lock_.reset();
            return;
        }
    }
    running_ = true;
    QFile f(stateFile_);
    if (f.open(QIODevice::ReadOnly)) {
        QJsonParseError pe{};
        const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
        if (pe.error == QJsonParseError::NoError && doc.isObject())
            planner_.load(doc.object());
        else
            say(kWarning, QStringLiteral("nieczytelny plik %1 pominięto").arg(stateFile_));
    }
    say(kInfo,
        QStringLiteral("wiadomości o alarmach przez %1 (%2), odbiorców: %3%4")
            .arg(where(), securityName(settings_.security))
            .arg(settings_.recipients.size())
            .arg(queue_.empty() ? QString()
                                : QStringLiteral(", w kolejce czeka %1").arg(queue_.size())));
    schedule();
    pump();
}

void TMailer::stop() {
    if (!running_)
        return;
    running_ = false;
    sender_.abort();
    inFlight_ = 0;
    dueTimer_.stop();
    retryTimer_.stop();
    saveState();
    lock_.reset(); // for the mailer that may follow (SIGHUP)
}

void TMailer::transition(const TMailEvent& e, const TControllerAlarms& alarms) {
    if (!running_)
        return;
    planner_.add(e, alarms, QDateTime::currentMSecsSinceEpoch());
    saveState();
    schedule();
}

void TMailer::saveState() {
    QString error;
    if (!writeFileAtomically(stateFile_,
                             QJsonDocument(planner_.save()).toJson(QJsonDocument::Compact), 0600,
                             error)) {
        if (error != stateError_)
            say(kError, error);
        stateError_ = error;
        return;
    }
    stateError_.clear();
}

void TMailer::schedule() {
    const qint64 next = planner_.nextDue();
    if (next < 0) {
        dueTimer_.stop();
        return;
    }
    const qint64 wait = std::clamp<qint64>(next - QDateTime::currentMSecsSinceEpoch(), 0, 3600000);
    dueTimer_.start(int(wait));
}

void TMailer::onDue() {
    const QDateTime now = QDateTime::currentDateTime();
    const QList<TMailOut> outs = planner_.due(now.toMSecsSinceEpoch());
    for (const TMailOut& o : outs) {
        const QString subject = mailSubject(o.content);
        const QString id =
            QStringLiteral("%1.%2@%3")
                .arg(now.toMSecsSinceEpoch())
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                .arg(idDomain(style_.hostName));
        const QByteArray message =
            mimeMessage(settings_.from, o.recipient, subject, mailBody(o.content, style_), now, id,
                        mailImportant(o.content));
        QString error;
        const std::deque<TQueuedMail> dropped = queue_.add(o.recipient, subject, message, error);
        if (!error.isEmpty())
            say(kError, error + QStringLiteral("; wiadomość czeka tylko w pamięci"));
        for (const TQueuedMail& d : dropped)
            say(kWarning, QStringLiteral("kolejka pełna (LimitKolejki=%1): usunięto najstarszą "
                                         "niewysłaną wiadomość do %2, „%3”")
                              .arg(settings_.queueLimit)
                              .arg(d.recipient, d.subject));
    }
    saveState();
    schedule();
    pump();
}

void TMailer::pump() {
    if (!running_ || sender_.busy() || queue_.empty())
        return;
    const qint64 now = clock_.elapsed();
    if (now < serverNotBefore_) {
        retryTimer_.start(int(serverNotBefore_ - now));
        return;
    }
    qint64 soonest = -1;
    for (const TQueuedMail& m : queue_.items()) {
        if (m.notBefore <= now) {
            if (sender_.send(m.recipient, m.message)) {
                inFlight_ = m.id;
            } else {
                // libcurl could not even begin: tried again like a server away.
                serverNotBefore_ = now + retryMs_;
                retryTimer_.start(int(retryMs_));
            }
            return;
        }
        soonest = soonest < 0 ? m.notBefore : std::min(soonest, m.notBefore);
    }
    if (soonest >= 0)
        retryTimer_.start(int(soonest - now));
}

void TMailer::onSent(const TSmtpResult& r) {
    const int index = queue_.indexOf(inFlight_);
    inFlight_ = 0;
    const qint64 now = clock_.elapsed();
    if (r.ok) {
        if (index >= 0) {
            const TQueuedMail& m = queue_.items()[size_t(index)];
            if (!lastSaid_.isEmpty())
                say(kNotice, QStringLiteral("serwer %1 znów przyjmuje wiadomości").arg(where()));
            say(kInfo, QStringLiteral("wysłano do %1: „%2”").arg(m.recipient, m.subject));
            queue_.remove(size_t(index));
        }
        lastSaid_.clear();
        retryMs_ = times_.retryFirstMs;
    } else {
        qint64 delay = retryMs_;
        if (r.messageRefused && index >= 0) {
            TQueuedMail& m = queue_.items()[size_t(index)];
            delay = times_.retryFirstMs << std::min(m.attempts, 30);
            delay = std::min(delay, times_.retryMaxMs);
            ++m.attempts;
            m.notBefore = now + delay;
        } else {
            serverNotBefore_ = now + retryMs_;
            retryMs_ = std::min(retryMs_ * 2, times_.retryMaxMs);
        }
        const QString text =
            QStringLiteral("serwer %1: %2").arg(where(), r.text) +
            (r.messageRefused && index >= 0
                 ? QStringLiteral(" (do %1)").arg(queue_.items()[size_t(index)].recipient)
                 : QString());
        if (text != lastSaid_) {
            lastSaid_ = text;
            say(r.level, text + QStringLiteral("; w kolejce czeka %1, ponawiam za %2, potem co raz "
                                               "rzadziej, do %3")
                                    .arg(queue_.size())
                                    .arg(duration(delay), duration(times_.retryMaxMs)));
        }
    }
    if (!pumpQueued_) {
        pumpQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            pumpQueued_ = false;
            pump();
        });
    }
}

} // namespace qta::email
