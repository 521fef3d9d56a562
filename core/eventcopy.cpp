// The event-log copy of TQTA504Core: which record to ask for next, the
// replies, and the rows of rejestr.dbf they become.
#include "core/controller.h"

#include "link/eventrecord.h"
#include "tables/table.h"

#include <QLocale>

namespace qta {

// ---------------------------------------------------------------- event-log download
//
// The copy runs one record per tick of the one-shot Timer5. It starts after
// the last local row (on an empty table at the oldest record of the ring,
// QTA_Last_Rekord + 1) and ends once record QTA_Last_Rekord has been handled.
// An empty record is skipped: past QTA_Last_Rekord lies the part of the ring
// never written, so the copy goes on at 0; otherwise at the next record.

bool TQTA504Core::downloadNeeded() const {
    const int last = lastStoredIndex();
    return last < 0 || last != Konfig.QTA_Last_Rekord;
}

void TQTA504Core::armDownload() {
    if (!Timer5.isActive())
        Timer5.start();
}

void TQTA504Core::armDownload(int intervalMs) {
    if (Timer5.isActive())
        return; // arming an armed timer adds no tick
    Timer5.setInterval(intervalMs);
    Timer5.start();
}

void TQTA504Core::Timer5Timer() {
    Timer5.stop();
    requestNext();
}

void TQTA504Core::requestNext() {
    const int newest = Konfig.QTA_Last_Rekord;
    int next;
    if (Konfig.Pusty_Rekord) {
        Konfig.Pusty_Rekord = false;
        const int empty = requested_;
        if (empty < 0 || empty == newest) {
            requested_ = -1;
            return; // the newest record was handled: the copy is complete
        }
        next = empty > newest ? 0 : (empty + 1) % kEventRingSize;
    } else {
        const int last = lastStoredIndex();
        if (last < 0) {
            next = newest >= kEventRingSize - 1 ? 0 : newest + 1;
        } else {
            Konfig.Baza_Last_Rekord = last;
            if (last == newest) {
                requested_ = -1;
                return;
            }
            next = last >= kEventRingSize - 1 ? 0 : last + 1;
        }
    }
    requested_ = next;
    retries_ = 0;
    if (!Flaga_Kom.OK || !ComPort.Connected()) {
        requested_ = -1; // nothing is sent; the next arming resumes
        return;
    }
    RS_RequestRecord(next);
    RecordTimeout.start();
}

void TQTA504Core::onRecordTimeout() {
    if (requested_ < 0)
        return;
    if (retries_ < kRecordRetries && UART_Connect && Flaga_Kom.OK && ComPort.Connected()) {
        ++retries_;
        RS_RequestRecord(requested_);
        RecordTimeout.start();
        return;
    }
    // Give up until the next arming (a newest-index reply or the next connection).
    requested_ = -1;
}

void TQTA504Core::decodeRecord() {
    EventRecordBytes r{};
    for (int i = 0; i < 12; ++i)
        r[size_t(i)] = Rx.payload(i);
    const int nr = Rx.word(10);

    // Only the record the copy waits for is stored. Any other one (a late or
    // repeated reply, also after the copy has ended) would add a row out of
    // order or a second time, and the copy would then start over after it.
    // Nothing is lost: the copy itself asks for every record it still lacks.
    if (nr != requested_ && !isEmptyRecord(r))
        return;
    RecordTimeout.stop();

    if (isEmptyRecord(r)) {
        if (requested_ < 0)
            return;
        Konfig.Pusty_Rekord = true;
        armDownload(downloadIntervalMs);
        return;
    }
    Konfig.Nr_Rekordu = nr;
    requested_ = -1;
    if (nr == lastStoredIndex()) {
        armDownload(downloadIntervalMs); // already stored: a duplicate reply adds no second row
        return;
    }

    const EventRow row = decodeEventRecord(r, Konfig.Progr, QLocale::system());
    try {
        if (!rejestr_)
            throw ETable(QStringLiteral("Tabela rejestr.dbf nie jest otwarta"));
        TTable& t = *rejestr_;
        Q_EMIT eventRowAboutToAppend();
        t.Append();
        t.FieldByName(QStringLiteral("DATA")).setAsString(row.DATA);
        t.FieldByName(QStringLiteral("CZAS")).setAsString(row.CZAS);
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(row.ZDARZENIE);
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(QString());
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(row.INDEKS);
        for (int n = 0; n < 3; ++n) {
            const QString p = QStringLiteral("N%1").arg(n + 1);
            const EventLineFields& f = row.N[size_t(n)];
            t.FieldByName(p + QStringLiteral("_STATUS")).setAsString(f.Status);
            for (int k = 0; k < 3; ++k)
                t.FieldByName(p + QStringLiteral("L%1_UMIN").arg(k + 1))
                    .setAsString(f.Umin[size_t(k)]);
            for (int k = 0; k < 3; ++k)
                t.FieldByName(p + QStringLiteral("L%1_UMAX").arg(k + 1))
                    .setAsString(f.Umax[size_t(k)]);
        }
        if (row.Aktywna)
            t.FieldByName(QStringLiteral("AKTYWNA")).setAsString(*row.Aktywna);
        if (row.Program)
            t.FieldByName(QStringLiteral("PROGRAM")).setAsString(*row.Program);
        t.Post();
        rejestrFailReported_ = false;
        Konfig.Baza_Last_Rekord = row.INDEKS;
        lastEventCode = eventCode(r);
        Q_EMIT eventRowAppended(row.INDEKS);
    } catch (const std::exception& e) {
        // A half-filled row must never reach the file later (moving off a new
        // row posts it); the record stays in the controller for the next arming.
        if (rejestr_ && rejestr_->Active())
            rejestr_->Cancel();
        reportTableFailure(rejestrFailReported_, QString::fromUtf8(e.what()));
        return; // not stored: the copy pauses rather than skip the record
    }
    armDownload(downloadIntervalMs);
}

} // namespace qta
