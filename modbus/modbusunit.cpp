#include "modbus/modbusunit.h"

#include "core/controller.h"
#include "settings/controllerfile.h"
#include "tables/table.h"

#include <QFileInfo>
#include <cmath>

namespace qta::modbus {

TModbusUnit::TModbusUnit(TQTA504Core& core, QObject* parent) : QObject(parent), core_(core) {
    connect(&core_, &TQTA504Core::frameHandled, this, [this] {
        seenFrame_ = true;
        sinceFrame_.start();
        changed();
    });
    connect(&core_.Alarmy, &TAlarmEngine::changed, this, [this] { changed(); });
    connect(&core_, &TQTA504Core::eventRowAppended, this, [this] {
        readLastEvent();
        changed();
    });
    connect(&core_, &TQTA504Core::controllerStored, this, [this] {
        kept_.settingsKnown = true;
        kept_.settingsTime = QDateTime::currentSecsSinceEpoch();
        kept_.konf = core_.Konfig;
        changed();
    });
    // The age register counts seconds; a lost link shows without a frame.
    everySecond_.setInterval(1000);
    connect(&everySecond_, &QTimer::timeout, this, [this] { publish(); });
    readLastEvent();
    readSettingsFile();
}

TModbusUnit::~TModbusUnit() { serveAs(nullptr, 0); }

void TModbusUnit::serveAs(TImageBoard* board, int unitId) {
    if (board == board_ && unitId == unitId_)
        return;
    if (board_ && unitId_ > 0)
        board_->remove(unitId_);
    board_ = board;
    unitId_ = unitId;
    if (board_ && unitId_ > 0) {
        everySecond_.start();
        publish();
    } else {
        everySecond_.stop();
    }
}

void TModbusUnit::changed() {
    dirty_ = true;
    // Several changes of one reply go out as one image.
    if (publishQueued_ || !board_)
        return;
    publishQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        publishQueued_ = false;
        publish();
    });
}

void TModbusUnit::publish() {
    if (board_ && unitId_ > 0)
        board_->publish(unitId_, std::make_shared<const TImage>(image()));
}

void TModbusUnit::readLastEvent() {
    const TTable* t = core_.Rejestr();
    if (!t || !t->Active())
        return;
    const int rows = t->RecordCount();
    kept_.eventsCopied = rows;
    kept_.lastEventCode = core_.lastEventCode;
    if (rows == 0)
        return;
    const double indeks = t->numberValue(rows - 1, t->fieldIndex(QStringLiteral("INDEKS")));
    kept_.lastIndeks = std::isnan(indeks) ? -1 : int(indeks);
    // The controller's clock, local time, to the minute ("2007-03-07 ", "09:05").
    const QString when = t->stringValue(rows - 1, t->fieldIndex(QStringLiteral("DATA"))).trimmed() +
                         QLatin1Char(' ') +
                         t->stringValue(rows - 1, t->fieldIndex(QStringLiteral("CZAS"))).trimmed();
    const QDateTime time = QDateTime::fromString(when, QStringLiteral("yyyy-MM-dd HH:mm"));
    kept_.lastEventTime = time.isValid() ? time.toSecsSinceEpoch() : 0;
}

void TModbusUnit::readSettingsFile() {
    const QString path = core_.controllerFilePath();
    if (!QFileInfo::exists(path))
        return;
    try {
        const TSettingsFile file = qta::readSettingsFile(path);
        if (!file.hasConfig || !file.hasCustom)
            return;
        kept_.konf = file.konf;
        kept_.settingsKnown = true;
        const QDateTime saved = file.saved.isValid() ? file.saved : QFileInfo(path).lastModified();
        kept_.settingsTime = saved.toSecsSinceEpoch();
    } catch (const std::exception&) {
        // A file that cannot be read serves as no read at all; the next read rewrites it.
    }
}

TUnitState TModbusUnit::state() {
    TUnitState s = kept_;
    s.program = core_.Aktywny_Program;
    s.activeLine = core_.Aktywna_Linia;
    for (int n = 1; n <= 3; ++n) {
        const TLinia1& l = core_.linia(n);
        for (int k = 1; k <= 3; ++k)
            s.voltages[size_t((n - 1) * 3 + k - 1)] = l.U[size_t(k)];
        s.lineStates[size_t(n - 1)] = l.Status & 3;
    }
    s.faults = core_.Konfig.Awaria;
    s.link = core_.UART_Connect;
    s.frameAgeS = seenFrame_ ? int(std::min<qint64>(sinceFrame_.elapsed() / 1000, 65535)) : -1;
    s.identifier = core_.Konfig.Id;
    for (const TAlarm& a : core_.Alarmy.listed()) {
        const int bit = 1 << int(a.kind);
        if (a.active())
            s.activeKinds |= bit;
        if (a.unacknowledged() && !a.shelved()) {
            s.unackedKinds |= bit;
            s.highestUnacked =
                std::max(s.highestUnacked, a.priority == AlarmPriority::High ? 2 : 1);
        }
    }
    s.unacknowledged = core_.Alarmy.unacknowledgedCount();
    return s;
}

const TImage& TModbusUnit::image() {
    const int age = seenFrame_ ? int(sinceFrame_.elapsed() / 1000) : -1;
    if (dirty_ || age != shownAge_) {
        fillImage(state(), image_);
        dirty_ = false;
        shownAge_ = age;
    }
    return image_;
}

} // namespace qta::modbus
