#include "link/eventrecord.h"

namespace qta {

namespace {

// Byte positions inside the record.
enum : int {
    kYear = 0,
    kMonth = 1,
    kDay = 2,
    kHour = 3,
    kMinute = 4,
    kEvent = 5,
    kKod1 = 6,
    kKod2 = 7,
    kKod3 = 8,
    kKod4 = 9,
    kNumberHigh = 10,
    kNumberLow = 11,
};

constexpr int kEmptyMonthAbove = 13;

// Program 5 couples two sections of the busbar (S); programs 2 and 4 use a
// generator (G) as a source. Some events then name S or G instead of a line.
bool isSProgram(int progr) { return progr == 5; }
bool isGProgram(int progr) { return progr == 2 || progr == 4; }

QString twoDigits(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

// A time setting the controller keeps in tenths of a second.
//
// The value is cut to three significant digits before it is shown with one
// decimal, so large values lose their low digits: 1234 -> "123.0",
// 65535 -> "6550.0". The editors keep these times within 90.0 s, where the
// rounding changes nothing. Halves round away from zero (9995 -> "1000.0").
// The decimal separator is the locale's (shown here as a point).
// The rounding is done on the integer count of tenths, so no binary fraction
// can tip a half the wrong way.
//
// Group separators are left out: a table cell must read "6550,0", never
// "6 550,0".
QString tenths(int v, const QLocale& locale) {
    long long t = v < 0 ? -static_cast<long long>(v) : v;
    long long divisor = 1;
    for (long long rest = t; rest >= 1000; rest /= 10)
        divisor *= 10;
    t = (t + divisor / 2) / divisor * divisor;
    if (v < 0)
        t = -t;

    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return plain.toString(static_cast<double>(t) / 10.0, 'f', 1);
}

QString programChangeText(int previous, int next) {
    static const char* const kPrevious[] = {
        " Poprzedni program: N1+N2+N3,", " Poprzedni program: N1+N2+G,",
        " Poprzedni program: N1+N2,",    " Poprzedni program: N1+G,",
        " Poprzedni program: N1+S+N3,",
    };
    static const char* const kNext[] = {
        " nowy program: N1+N2+N3,", " nowy program: N1+N2+G,", " nowy program: N1+N2,",
        " nowy program: N1+G,",     " nowy program: N1+S+N3,",
    };
    QString s = QStringLiteral("Zmiana programu.");
    if (previous >= 1 && previous <= 5)
        s += QString::fromUtf8(kPrevious[previous - 1]);
    if (next >= 1 && next <= 5)
        s += QString::fromUtf8(kNext[next - 1]);
    return s;
}

QString loadSheddingText(int line, int kod2) {
    if (kod2 == 1)
        return QStringLiteral("Ustawiony zrzut mocy dla linii N%1").arg(line);
    if (kod2 == 0)
        return QStringLiteral("Brak zrzutu mocy dla linii N%1").arg(line);
    return {};
}

QString lineStatusText(int stateBits) {
    switch (stateBits) {
    case 0: return QStringLiteral("Linia zła");
    case 1: return QStringLiteral("Linia kwalifikowana jako dobra");
    case 2: return QStringLiteral("Linia kwalifikowana jako zła");
    default: return QStringLiteral("Linia Dobra");
    }
}

QString flag(bool set) { return set ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); }

EventLineFields lineFields(std::uint8_t kod) {
    EventLineFields f;
    f.Status = lineStatusText(kod >> 6);
    for (int phase = 0; phase < 3; ++phase) {
        f.Umin[phase] = flag(kod & (1u << phase));
        f.Umax[phase] = flag(kod & (1u << (phase + 3)));
    }
    return f;
}

std::optional<QString> activeLineText(int code) {
    switch (code) {
    case 0: return QStringLiteral("Brak aktywnej linii");
    case 1: return QStringLiteral("Aktywna linia N1");
    case 2: return QStringLiteral("Aktywna linia N2");
    case 3: return QStringLiteral("Aktywna linia N3");
    case 4: return QStringLiteral("Aktywna linia N1 i N3");
    case 5: return QStringLiteral("Aktywna linia N1 i S");
    case 6: return QStringLiteral("Aktywna linia N3 i S");
    default: return std::nullopt;
    }
}

std::optional<QString> programText(int code) {
    switch (code) {
    case 0: return QStringLiteral("Brak");
    case 1: return QStringLiteral("N1 + N2 + N3");
    case 2: return QStringLiteral("N1 + N2 + G");
    case 3: return QStringLiteral("N1 + N3");
    case 4: return QStringLiteral("N1 + G");
    case 5: return QStringLiteral("N1+N3+S");
    case 10: return QStringLiteral("Tylko N1");
    case 11: return QStringLiteral("Tylko N2");
    case 12: return QStringLiteral("Tylko N3");
    default: return std::nullopt;
    }
}

} // namespace

QString lineStateText(int stateBits) { return lineStatusText(stateBits & 3); }
QString activeLineCodeText(int code) { return activeLineText(code).value_or(QString()); }
QString programCodeText(int code) { return programText(code).value_or(QString()); }

bool isEmptyRecord(const EventRecordBytes& r) { return r[kMonth] > kEmptyMonthAbove; }
int eventCode(const EventRecordBytes& r) { return r[kEvent]; }

QString eventText(int event, int kod1, int kod2, int progr, const QLocale& locale) {
    // Events 22 to 46 carry one 16-bit value in Kod1 (high) and Kod2 (low).
    const int v = kod1 * 256 + kod2;
    const QString volts = QString::number(v) + QLatin1Char('V');
    const QString seconds = QString::number(v) + QLatin1Char('s');
    const QString tenthSeconds = tenths(v, locale) + QLatin1Char('s');

    switch (event) {
    case 0: return QStringLiteral("Start systemu");
    case 1: return QStringLiteral("Zadziałanie wyłacznika bezpieczeństwa");
    case 2: return QStringLiteral("Brak dobrych linii zasilających");
    case 3: return QStringLiteral("Wyłączenie linii N1");
    case 4:
        return isSProgram(progr) ? QStringLiteral("Odłączenie sprzęgu S")
                                 : QStringLiteral("Wyłączenie linii N2");
    case 5:
        return isGProgram(progr) ? QStringLiteral("Wyłączenie linii G")
                                 : QStringLiteral("Wyłączenie linii N3");
    case 6: return QStringLiteral("Załączenie linii N1");
    case 7:
        return isSProgram(progr) ? QStringLiteral("Załączenie sprzęgu S")
                                 : QStringLiteral("Załączenie linii N2");
    case 8:
        return isGProgram(progr) ? QStringLiteral("Załączenie linii G")
                                 : QStringLiteral("Załączenie linii N3");
    case 9: return QStringLiteral("Linia N1 została zakwalifikowana jako dobra");
    case 10: return QStringLiteral("Linia N2 została zakwalifikowana jako dobra");
    case 11:
        return isGProgram(progr) ? QStringLiteral("Linia G została zakwalifikowana jako dobra")
                                 : QStringLiteral("Linia N3 została zakwalifikowana jako dobra");
    case 12: return QStringLiteral("Linia pierwsza została zakwalifikowana jako zła");
    case 13: return QStringLiteral("Linia druga została zakwalifikowana jako zła");
    case 14: return QStringLiteral("Linia trzecia została zakwalifikowana jako zła");
    case 15: return QStringLiteral("Brak napięcia na wyjściu linii zasilającej");
    case 21: return programChangeText(kod1, kod2);
    case 22: return QStringLiteral("Zmiana napięcia Umin dla linii N1. Nowa wartość: ") + volts;
    case 23: return QStringLiteral("Zmiana napięcia Umin dla linii N2. Nowa wartość: ") + volts;
    case 24: return QStringLiteral("Zmiana napięcia Umin dla linii N3. Nowa wartość: ") + volts;
    case 25: return QStringLiteral("Zmiana napięcia Umax dla linii N1. Nowa wartość: ") + volts;
    case 26: return QStringLiteral("Zmiana napięcia Umax dla linii N2. Nowa wartość: ") + volts;
    case 27: return QStringLiteral("Zmiana napięcia Umax dla linii N3. Nowa wartość: ") + volts;
    case 28: return QStringLiteral("Zmiana napięcia UHist dla linii N1. Nowa wartość: ") + volts;
    case 29: return QStringLiteral("Zmiana napięcia UHist dla linii N2. Nowa wartość: ") + volts;
    case 30: return QStringLiteral("Zmiana napięcia UHist dla linii N3. Nowa wartość: ") + volts;
    case 40: return QStringLiteral("Zmiana czasu T_Kwal_On. Nowa wartość: ") + seconds;
    case 41: return QStringLiteral("Zmiana czasu T_Kwal_Off. Nowa wartość: ") + seconds;
    case 42: return QStringLiteral("Zmiana czasu T_On. Nowa wartość: ") + tenthSeconds;
    case 43: return QStringLiteral("Zmiana czasu T_Off. Nowa wartość: ") + tenthSeconds;
    case 44: return QStringLiteral("Zmiana czasu T_d. Nowa wartość: ") + tenthSeconds;
    case 45: return QStringLiteral("Zmiana czasu T_Min. Nowa wartość: ") + seconds;
    case 46: return QStringLiteral("Zmiana czasu T_Gen. Nowa wartość: ") + seconds;
    case 47: {
        QString s = QStringLiteral("Zmiana typu aparatów. Nowy aparat: ");
        if (kod2 == 0)
            s += QStringLiteral("Stycznik");
        else if (kod2 == 1)
            s += QStringLiteral("Wyłącznik");
        return s;
    }
    case 48: {
        QString s = QStringLiteral("Zmiana linii priorytetowej. Nowa linia priorytetowa: ");
        if (kod2 == 0)
            s += QStringLiteral("Brak");
        else if (kod2 >= 1 && kod2 <= 3)
            s += QStringLiteral("N%1").arg(kod2);
        return s;
    }
    case 49: return loadSheddingText(1, kod2);
    case 50: return loadSheddingText(2, kod2);
    case 51: return loadSheddingText(3, kod2);
    case 60: return QStringLiteral("Uruchomienie generatora");
    case 61: return QStringLiteral("Zatrzymanie generatora");
    case 62: return QStringLiteral("Rozpoczęcie zrzutu mocy");
    case 63: return QStringLiteral("Zakończenie zrzutu mocy");
    case 64: return QStringLiteral("Brak poprawnego napięcia na generatorze");
    default: return {};
    }
}

EventRow decodeEventRecord(const EventRecordBytes& r, int progr, const QLocale& locale) {
    EventRow row;
    // The year byte counts from 2000. Writing the full year (rather than
    // gluing "20" in front of the byte) keeps a four-digit year for every
    // byte below 100 and stays a real year above it.
    row.DATA = QString::number(2000 + r[kYear]) + QLatin1Char('-') + twoDigits(r[kMonth]) +
               QLatin1Char('-') + twoDigits(r[kDay]) + QLatin1Char(' ');
    row.CZAS = twoDigits(r[kHour]) + QLatin1Char(':') + twoDigits(r[kMinute]);
    row.ZDARZENIE = eventText(r[kEvent], r[kKod1], r[kKod2], progr, locale);
    row.INDEKS = r[kNumberHigh] * 256 + r[kNumberLow];
    // The line fields are filled for every event, also when Kod1 and Kod2
    // carry an event's value rather than line states: the row always has the
    // same shape.
    row.N[0] = lineFields(r[kKod1]);
    row.N[1] = lineFields(r[kKod2]);
    row.N[2] = lineFields(r[kKod3]);
    row.Aktywna = activeLineText(r[kKod4] >> 5);
    row.Program = programText(r[kKod4] & 0x1F);
    return row;
}

const std::array<const char*, 28>& eventTableFieldOrder() {
    static const std::array<const char*, 28> kOrder = {
        "DATA",      "CZAS",      "ZDARZENIE", "UWAGI",     "INDEKS",    "N1_Status", "N1L1_Umin",
        "N1L2_Umin", "N1L3_Umin", "N1L1_Umax", "N1L2_Umax", "N1L3_Umax", "N2_Status", "N2L1_Umin",
        "N2L2_Umin", "N2L3_Umin", "N2L1_Umax", "N2L2_Umax", "N2L3_Umax", "N3_Status", "N3L1_Umin",
        "N3L2_Umin", "N3L3_Umin", "N3L1_Umax", "N3L2_Umax", "N3L3_Umax", "Aktywna",   "Program",
    };
    return kOrder;
}

} // namespace qta
