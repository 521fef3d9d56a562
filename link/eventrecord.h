// The controller's event records (code-3 replies) turned into the Polish
// texts of one row of the event-log table.
#pragma once

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace qta {

using EventRecordBytes = std::array<std::uint8_t, 12>;

// A record whose month byte is above 13 is empty.
bool isEmptyRecord(const EventRecordBytes& r);
// The record's event code (what eventText() names).
int eventCode(const EventRecordBytes& r);

struct EventLineFields {
    QString Status;              // "Linia zła", ...
    std::array<QString, 3> Umin; // "TRUE"/"FALSE" for L1..L3
    std::array<QString, 3> Umax;
};

struct EventRow {
    QString DATA;                     // "2007-03-07 "
    QString CZAS;                     // "09:05"
    QString ZDARZENIE;                // the event text
    int INDEKS = 0;                   // record number (bytes 10, 11)
    std::array<EventLineFields, 3> N; // N1, N2, N3
    std::optional<QString> Aktywna;   // absent: the field is left unset
    std::optional<QString> Program;
};

// The event text of code `event` with state bytes kod1, kod2; `progr` is the
// configured program (Konfig.Progr), which picks the S- and G-variants.
// V/10 values use the decimal separator of `locale`.
QString eventText(int event, int kod1, int kod2, int progr, const QLocale& locale);

// The whole row of a non-empty record.
EventRow decodeEventRecord(const EventRecordBytes& r, int progr, const QLocale& locale);

// Texts shared with whoever reports the live state: a line's two-bit state
// ("Linia zła", ...), an active-line code and an operating program (empty for
// a code the controller does not use).
QString lineStateText(int stateBits);
QString activeLineCodeText(int code);
QString programCodeText(int code);

// Field names of the event-log table in the order a row is written.
const std::array<const char*, 28>& eventTableFieldOrder();

} // namespace qta
