#include "mqtt/mqttpublisher.h"

#include "core/controller.h"
#include "mqtt/mqttpayload.h"
#include "tables/table.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace qta::mqtt {

namespace {
constexpr int kError = 3, kWarning = 4;
} // namespace

// ---------------------------------------------------------------- replay position

TReplayPosition readReplayPosition(const QString& path) {
    TReplayPosition p;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return p;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.startsWith(';') || eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(line.mid(eq + 1).trimmed());
        bool ok = false;
        const int n = value.toInt(&ok);
        if (key == "Identyfikator")
            p.identifier = value;
        else if (key == "ZdarzeniaWiersze" && ok && n >= 0)
            p.eventRows = n;
        else if (key == "ZdarzenieIndeks" && ok)
            p.lastIndeks = n;
        else if (key == "AlarmyWiersze" && ok && n >= 0)
            p.alarmRows = n;
        else if (key == "AlarmOstatni")
            p.lastAlarm = value;
    }
    return p;
}

bool writeReplayPosition(const QString& path, const TReplayPosition& p) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("; qta504d: how far the MQTT broker has acknowledged the tables\n"
                           "Identyfikator=%1\nZdarzeniaWiersze=%2\nZdarzenieIndeks=%3\n"
                           "AlarmyWiersze=%4\nAlarmOstatni=%5\n")
                .arg(p.identifier)
                .arg(p.eventRows)
                .arg(p.lastIndeks)
                .arg(p.alarmRows)
                .arg(p.lastAlarm)
                .toUtf8());
    return f.commit();
}

QString alarmRowKey(const TAlarmJournalRow& row) {
    QCryptographicHash h(QCryptographicHash::Sha1);
    for (const QString& f :
         {row.czas.toString(Qt::ISODate), row.alarm, row.priorytet, row.stan, row.kto, row.uwagi}) {
        h.addData(f.toUtf8());
        h.addData(QByteArrayView("\x1f", 1));
    }
    return QString::fromLatin1(h.result().left(8).toHex());
}

// ---------------------------------------------------------------- publisher

TControllerPublisher::TControllerPublisher(TQTA504Core& core, const QString& name,
                                           const QString& id, const TMqttSettings& settings,
                                           TMqttClient::Log log, QObject* parent)
    : QObject(parent), core_(core), name_(name), key_(identityKey(name, id)), settings_(settings),
      controllerId_(mqtt::controllerId(settings.prefix, key_)), log_(std::move(log)) {
    positionFile_ = core_.dataPath(QStringLiteral("mqtt.ini"));
    stateTimer_.setSingleShot(true);
    stateTimer_.setTimerType(Qt::PreciseTimer);
    connect(&stateTimer_, &QTimer::timeout, this, &TControllerPublisher::publishState);
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &TControllerPublisher::tick);
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(200);
    connect(&saveTimer_, &QTimer::timeout, this, &TControllerPublisher::save);
    connect(&core_, &TQTA504Core::statusRowAppended, this, &TControllerPublisher::onStatus);
    connect(&core_, &TQTA504Core::eventRowAppended, this, &TControllerPublisher::schedulePump);
    connect(&core_.Alarmy, &TAlarmEngine::transition, this, &TControllerPublisher::schedulePump);
    connect(&core_.Alarmy, &TAlarmEngine::changed, this, [this] {
        if (alarmListQueued_)
            return;
        alarmListQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            alarmListQueued_ = false;
            publishAlarmList();
        });
    });
}

TControllerPublisher::~TControllerPublisher() { stop(); }

QString TControllerPublisher::topicOf(const char* leaf) const {
    return topic(settings_.prefix, name_, leaf);
}

QString TControllerPublisher::identifier() const {
    const QString id = core_.Konfig.Id.trimmed();
    return id.isEmpty() ? acked_.identifier : id;
}

void TControllerPublisher::start() {
    acked_ = saved_ = readReplayPosition(positionFile_);
    checkPosition();
    nextEventRow_ = acked_.eventRows;
    nextAlarmRow_ = acked_.alarmRows;
    client_ = std::make_unique<TMqttClient>(
        settings_, settings_.clientId + u'-' + topicLevel(name_), topicOf("availability"), log_);
    connect(client_.get(), &TMqttClient::connectedChanged, this,
            &TControllerPublisher::onConnected);
    connect(client_.get(), &TMqttClient::published, this, &TControllerPublisher::onPublished);
    if (settings_.acknowledge) {
        const QString ack = ackTopic(settings_.prefix, name_);
        ack_ = std::make_unique<TAckReceiver>(core_.Alarmy, ack, log_);
        ackClock_.start();
        client_->subscribe(ack, 1);
        connect(client_.get(), &TMqttClient::message, this,
                [this, ack](const QString& t, const QByteArray& payload, bool retained) {
                    if (t == ack && ack_)
                        ack_->receive(payload, retained, ackClock_.elapsed());
                });
    }
    tick_.start();
    client_->start();
}

void TControllerPublisher::stop() {
    live_ = false;
    tick_.stop();
    stateTimer_.stop();
    if (client_) {
        client_->stop();
        client_.reset();
    }
    save();
}

// A table that is shorter than the position, or whose row there is not the
// one acknowledged, is not the table the position was taken from (replaced
// by hand, restored from a backup): everything in it is published again.
void TControllerPublisher::checkPosition() {
    TTable* r = core_.Rejestr();
    const int rows = r && r->Active() ? r->RecordCount() : 0;
    bool same = acked_.eventRows <= rows;
    if (same && acked_.eventRows > 0) {
        const double v =
            r->numberValue(acked_.eventRows - 1, r->fieldIndex(QStringLiteral("INDEKS")));
        same = !std::isnan(v) && int(v) == acked_.lastIndeks;
    }
    if (!same) {
        log_(kWarning, QStringLiteral("MQTT: rejestr.dbf nie zgadza się z %1 (wierszy %2, "
                                      "potwierdzonych %3); zdarzenia publikuję od początku")
                           .arg(positionFile_)
                           .arg(rows)
                           .arg(acked_.eventRows));
        acked_.eventRows = 0;
        acked_.lastIndeks = -1;
    }
    const TAlarmJournal* j = core_.alarmJournal();
    bool sameJournal = acked_.alarmRows <= (j ? j->rowCount() : 0);
    if (sameJournal && acked_.alarmRows > 0 && !acked_.lastAlarm.isEmpty()) {
        try {
            const auto last = j->readRows(acked_.alarmRows - 1, 1);
            sameJournal = last.size() == 1 && alarmRowKey(last.front()) == acked_.lastAlarm;
        } catch (const std::exception&) {
            sameJournal = false;
        }
    }
    if (!sameJournal) {
        log_(kWarning, QStringLiteral("MQTT: alarmy.dbf nie zgadza się z %1 (wierszy %2, "
                                      "potwierdzonych %3); przejścia alarmów publikuję od początku")
                           .arg(positionFile_)
                           .arg(j ? j->rowCount() : 0)
                           .arg(acked_.alarmRows));
        acked_.alarmRows = 0;
        acked_.lastAlarm.clear();
    }
}

void TControllerPublisher::onConnected(bool up) {
    // Whatever was in flight on a lost connection is sent again from the
    // acknowledged rows on.
    events_.clear();
    alarms_.clear();
    nextEventRow_ = acked_.eventRows;
    nextAlarmRow_ = acked_.alarmRows;
    const bool was = live_;
    live_ = up && client_;
    if (!live_) {
        if (was)
            Q_EMIT connectionChanged(false);
        return;
    }
    discoveredFor_.clear();
    // What earlier versions published for this name (a node named after the
    // name alone, a device named after the firmware): removed, so that Home
    // Assistant keeps only the records of this controller's identity.
    for (const QString& t : formerDiscoveryTopics(name_))
        client_->publish(t, {}, 1, true);
    publishDiscovery();
    publishAlarmList();
    stateDirty_ = haveStatus_; // the retained state again, as it is now
    publishState();
    pump();
    Q_EMIT connectionChanged(true);
}

void TControllerPublisher::publishDiscovery() {
    const QString id = identifier();
    if (id.isEmpty() || id == discoveredFor_ || !live_)
        return;
    for (const TMessage& m : discoveryMessages(settings_.prefix, name_, key_, id))
        client_->publish(m.topic, m.payload, 1, true);
    for (const TMessage& m :
         acknowledgeDiscovery(settings_.prefix, name_, key_, id, settings_.acknowledge))
        client_->publish(m.topic, m.payload, 1, true);
    discoveredFor_ = id;
}

void TControllerPublisher::onStatus() {
    const qint64 gap = sinceStatus_.isValid() ? sinceStatus_.restart() : 0;
    if (!sinceStatus_.isValid())
        sinceStatus_.start();
    haveStatus_ = true;
    stateDirty_ = true;
    if (!sinceState_.isValid() || sinceState_.elapsed() >= kStateMinGapMs) {
        publishState();
        return;
    }
    // Inside the second: a reply that comes just before it is up goes out
    // when it is. An earlier one waits for the next reply (expected one gap
    // from now, published at once when it comes after the second), and goes
    // out itself only when that reply does not come. Waiting for the second
    // with every early reply would let one slow reply delay all later ones:
    // replies come every half second, and each published state would keep
    // the lateness of the one before it.
    const int rest = kStateMinGapMs - int(sinceState_.elapsed());
    const int wait = rest <= kStateEarlyMs
                         ? rest
                         : rest + int(std::clamp<qint64>(gap, 100, 2000)) + kStateSlackMs;
    if (!stateTimer_.isActive() || stateTimer_.remainingTime() > wait)
        stateTimer_.start(wait);
}

void TControllerPublisher::publishState() {
    if (!live_ || !haveStatus_ || !stateDirty_)
        return;
    publishDiscovery(); // the identifier may have come with this read
    if (alarmListHeld_)
        publishAlarmList();
    TStateSnapshot s;
    s.program = core_.Aktywny_Program;
    s.activeLine = core_.Aktywna_Linia;
    for (int n = 1; n <= 3; ++n) {
        const TLinia1& l = core_.linia(n);
        for (int k = 1; k <= 3; ++k)
            s.voltages[size_t((n - 1) * 3 + k - 1)] = l.U[size_t(k)];
        s.lineStates[size_t(n - 1)] = l.Status;
    }
    s.faults = core_.Konfig.Awaria;
    s.link = core_.UART_Connect;
    s.time = QDateTime::currentDateTime();
    lastLink_ = s.link;
    client_->publish(topicOf("state"), stateJson(source(), s), 0, true);
    stateTimer_.stop();
    stateDirty_ = false;
    sinceState_.start();
}

void TControllerPublisher::publishAlarmList() {
    if (!live_)
        return;
    alarmListHeld_ = identifier().isEmpty();
    if (alarmListHeld_)
        return;
    client_->publish(topicOf("alarms"),
                     alarmsJson(source(), core_.Alarmy.listed(), QDateTime::currentDateTime()), 1,
                     true);
}

void TControllerPublisher::tick() {
    // A lost link shows in the state without a status reply to carry it; a
    // journal row written late (after a failed write) is found here.
    if (haveStatus_ && core_.UART_Connect != lastLink_ && !stateTimer_.isActive()) {
        stateDirty_ = true;
        publishState();
    }
    if (alarmListHeld_)
        publishAlarmList();
    pump();
}

void TControllerPublisher::schedulePump() {
    if (pumpQueued_)
        return;
    pumpQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        pumpQueued_ = false;
        pump();
    });
}

void TControllerPublisher::pump() {
    if (!live_ || identifier().isEmpty())
        return;
    pumpEvents();
    pumpAlarms();
}

void TControllerPublisher::pumpEvents() {
    TTable* t = core_.Rejestr();
    if (!t || !t->Active())
        return;
    const int rows = t->RecordCount();
    if (nextEventRow_ >= rows || int(events_.size()) >= kWindow)
        return;
    const int fIndeks = t->fieldIndex(QStringLiteral("INDEKS"));
    const int fData = t->fieldIndex(QStringLiteral("DATA"));
    const int fCzas = t->fieldIndex(QStringLiteral("CZAS"));
    const int fText = t->fieldIndex(QStringLiteral("ZDARZENIE"));
    const int fAkt = t->fieldIndex(QStringLiteral("AKTYWNA"));
    const int fProg = t->fieldIndex(QStringLiteral("PROGRAM"));
    const TSource source = this->source();
    const QString where = topicOf("event");
    while (nextEventRow_ < rows && int(events_.size()) < kWindow) {
        const int r = nextEventRow_;
        TEventSnapshot e;
        e.row = r;
        const double ix = t->numberValue(r, fIndeks);
        e.indeks = std::isnan(ix) ? -1 : int(ix);
        e.date = t->stringValue(r, fData);
        e.time = t->stringValue(r, fCzas);
        e.text = t->stringValue(r, fText).trimmed();
        for (int n = 0; n < 3; ++n)
            e.lineStates[size_t(n)] =
                t->stringValue(r, t->fieldIndex(QStringLiteral("N%1_STATUS").arg(n + 1))).trimmed();
        if (fAkt >= 0)
            e.active = t->stringValue(r, fAkt).trimmed();
        if (fProg >= 0)
            e.program = t->stringValue(r, fProg).trimmed();
        const int mid = client_->publish(where, eventJson(source, e), 1, false);
        if (mid < 0)
            return; // tried again at the next tick or connection
        events_.push_back({mid, r, e.indeks, {}, false});
        ++nextEventRow_;
    }
}

void TControllerPublisher::pumpAlarms() {
    const TAlarmJournal* j = core_.alarmJournal();
    if (!j || !j->isOpen())
        return;
    const int room = kWindow - int(alarms_.size());
    if (room <= 0 || nextAlarmRow_ >= j->rowCount())
        return;
    const TSource source = this->source();
    const QString where = topicOf("alarm");
    std::vector<TAlarmJournalRow> rows;
    try {
        rows = j->readRows(nextAlarmRow_, room);
    } catch (const std::exception& e) {
        log_(kError, QStringLiteral("MQTT: %1").arg(QString::fromUtf8(e.what())));
        return;
    }
    for (const TAlarmJournalRow& row : rows) {
        const int mid = client_->publish(where, alarmJson(source, nextAlarmRow_, row), 1, false);
        if (mid < 0)
            return;
        alarms_.push_back({mid, nextAlarmRow_, -1, alarmRowKey(row), false});
        ++nextAlarmRow_;
    }
}

void TControllerPublisher::onPublished(int mid) {
    // Acknowledgements may come out of order; the position moves over the
    // acknowledged rows at the front only.
    bool moved = false;
    for (auto* q : {&events_, &alarms_}) {
        for (Pending& p : *q)
            if (p.mid == mid)
                p.acked = true;
        while (!q->empty() && q->front().acked) {
            const Pending p = q->front();
            q->pop_front();
            moved = true;
            if (q == &events_) {
                acked_.eventRows = p.row + 1;
                acked_.lastIndeks = p.indeks;
            } else {
                acked_.alarmRows = p.row + 1;
                acked_.lastAlarm = p.key;
            }
        }
    }
    if (!moved)
        return;
    acked_.identifier = identifier();
    scheduleSave();
    schedulePump();
}

void TControllerPublisher::scheduleSave() {
    if (!saveTimer_.isActive())
        saveTimer_.start();
}

void TControllerPublisher::save() {
    saveTimer_.stop();
    if (acked_ == saved_)
        return;
    if (!writeReplayPosition(positionFile_, acked_)) {
        log_(kError, QStringLiteral("MQTT: nie można zapisać %1").arg(positionFile_));
        return;
    }
    saved_ = acked_;
}

} // namespace qta::mqtt
