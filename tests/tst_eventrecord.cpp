// Event records into the Polish texts of one event-log row.
#include "link/eventrecord.h"

#include <QTest>

using namespace qta;

namespace {
const QLocale kPolish(QLocale::Polish, QLocale::Poland);
const QLocale kC = QLocale::c();

EventRecordBytes record(int year, int month, int day, int hour, int minute, int event, int kod1,
                        int kod2, int kod3, int kod4, int indexHigh, int indexLow) {
    const int v[] = {year, month, day,  hour, minute,    event,
                     kod1, kod2,  kod3, kod4, indexHigh, indexLow};
    EventRecordBytes r{};
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<std::uint8_t>(v[i]);
    return r;
}

QByteArray toBytes(const EventRecordBytes& r) {
    return QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size()));
}

EventRecordBytes fromBytes(const QByteArray& b) {
    EventRecordBytes r{};
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<std::uint8_t>(b[int(i)]);
    return r;
}

QVariant toVariant(const std::optional<QString>& s) { return s ? QVariant(*s) : QVariant(); }

// "TFF/FFT": Umin of L1..L3, then Umax of L1..L3.
QStringList expandFaults(const QString& pattern) {
    QStringList out;
    for (QChar c : pattern) {
        if (c == QLatin1Char('T'))
            out << QStringLiteral("TRUE");
        else if (c == QLatin1Char('F'))
            out << QStringLiteral("FALSE");
    }
    return out;
}
} // namespace

class TestEventRecord : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyRecord_data() {
        QTest::addColumn<int>("month");
        QTest::addColumn<bool>("empty");
        QTest::newRow("month 0") << 0 << false;
        QTest::newRow("month 12") << 12 << false;
        QTest::newRow("month 13 is still a record") << 13 << false;
        QTest::newRow("month 14") << 14 << true;
        QTest::newRow("month 255") << 255 << true;
    }
    void emptyRecord() {
        QFETCH(int, month);
        QFETCH(bool, empty);
        QCOMPARE(isEmptyRecord(record(7, month, 7, 9, 5, 0, 0, 0, 0, 0, 0, 1)), empty);
    }

    void text_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("kod1");
        QTest::addColumn<int>("kod2");
        QTest::addColumn<int>("progr");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("expected");

        auto row = [](const char* name, int event, int kod1, int kod2, int progr,
                      const QString& expected, const QLocale& locale = kPolish) {
            QTest::newRow(name) << event << kod1 << kod2 << progr << locale << expected;
        };

        // Plain events; the Kod bytes do not matter for them.
        row("0", 0, 0xFF, 0xFF, 1, "Start systemu");
        row("1", 1, 0, 0, 1, "Zadziałanie wyłacznika bezpieczeństwa");
        row("2", 2, 0, 0, 1, "Brak dobrych linii zasilających");
        row("3", 3, 0, 0, 5, "Wyłączenie linii N1");
        row("6", 6, 0, 0, 2, "Załączenie linii N1");
        row("9", 9, 0, 0, 2, "Linia N1 została zakwalifikowana jako dobra");
        row("10 under S", 10, 0, 0, 5, "Linia N2 została zakwalifikowana jako dobra");
        row("12", 12, 0, 0, 1, "Linia pierwsza została zakwalifikowana jako zła");
        row("13", 13, 0, 0, 1, "Linia druga została zakwalifikowana jako zła");
        row("14", 14, 0, 0, 1, "Linia trzecia została zakwalifikowana jako zła");
        row("15", 15, 0, 0, 1, "Brak napięcia na wyjściu linii zasilającej");

        // S-program (5) and G-programs (2, 4) rename a source.
        row("4 S", 4, 0, 0, 5, "Odłączenie sprzęgu S");
        row("4 plain", 4, 0, 0, 1, "Wyłączenie linii N2");
        row("4 G is not S", 4, 0, 0, 2, "Wyłączenie linii N2");
        row("5 G prog 2", 5, 0, 0, 2, "Wyłączenie linii G");
        row("5 G prog 4", 5, 0, 0, 4, "Wyłączenie linii G");
        row("5 S is not G", 5, 0, 0, 5, "Wyłączenie linii N3");
        row("7 S", 7, 0, 0, 5, "Załączenie sprzęgu S");
        row("7 plain", 7, 0, 0, 3, "Załączenie linii N2");
        row("8 G", 8, 0, 0, 4, "Załączenie linii G");
        row("8 plain", 8, 0, 0, 12, "Załączenie linii N3");
        row("11 G", 11, 0, 0, 2, "Linia G została zakwalifikowana jako dobra");
        row("11 plain", 11, 0, 0, 0, "Linia N3 została zakwalifikowana jako dobra");

        // Program change: previous from Kod1, new from Kod2; unknown programs add nothing.
        row("21 1->5", 21, 1, 5, 1,
            "Zmiana programu. Poprzedni program: N1+N2+N3, nowy program: N1+S+N3,");
        row("21 3->2", 21, 3, 2, 1,
            "Zmiana programu. Poprzedni program: N1+N2, nowy program: N1+N2+G,");
        row("21 4->4", 21, 4, 4, 1,
            "Zmiana programu. Poprzedni program: N1+G, nowy program: N1+G,");
        row("21 0->1", 21, 0, 1, 1, "Zmiana programu. nowy program: N1+N2+N3,");
        row("21 5->6", 21, 5, 6, 1, "Zmiana programu. Poprzedni program: N1+S+N3,");
        row("21 10->11", 21, 10, 11, 1, "Zmiana programu.");

        // Voltages: V = Kod1 * 256 + Kod2, plain integer.
        row("22", 22, 0, 230, 1, "Zmiana napięcia Umin dla linii N1. Nowa wartość: 230V");
        row("23 high byte", 23, 1, 4, 1, "Zmiana napięcia Umin dla linii N2. Nowa wartość: 260V");
        row("24", 24, 0, 0, 1, "Zmiana napięcia Umin dla linii N3. Nowa wartość: 0V");
        row("25", 25, 0, 253, 1, "Zmiana napięcia Umax dla linii N1. Nowa wartość: 253V");
        row("26", 26, 1, 0, 1, "Zmiana napięcia Umax dla linii N2. Nowa wartość: 256V");
        row("27", 27, 0, 250, 1, "Zmiana napięcia Umax dla linii N3. Nowa wartość: 250V");
        row("28", 28, 0, 5, 1, "Zmiana napięcia UHist dla linii N1. Nowa wartość: 5V");
        row("29", 29, 0, 10, 1, "Zmiana napięcia UHist dla linii N2. Nowa wartość: 10V");
        row("30 no group separator", 30, 255, 255, 1,
            "Zmiana napięcia UHist dla linii N3. Nowa wartość: 65535V");

        // Whole seconds.
        row("40", 40, 0, 30, 1, "Zmiana czasu T_Kwal_On. Nowa wartość: 30s");
        row("41", 41, 2, 88, 1, "Zmiana czasu T_Kwal_Off. Nowa wartość: 600s");
        row("45", 45, 0, 0, 1, "Zmiana czasu T_Min. Nowa wartość: 0s");
        row("46 no group separator", 46, 39, 16, 1, "Zmiana czasu T_Gen. Nowa wartość: 10000s");

        // Tenths of a second: one decimal, the locale's separator, three significant digits.
        row("42", 42, 0, 5, 1, "Zmiana czasu T_On. Nowa wartość: 0,5s");
        row("43 Polish", 43, 0, 25, 1, "Zmiana czasu T_Off. Nowa wartość: 2,5s");
        row("43 C", 43, 0, 25, 1, "Zmiana czasu T_Off. Nowa wartość: 2.5s", kC);
        row("44 zero", 44, 0, 0, 1, "Zmiana czasu T_d. Nowa wartość: 0,0s");
        row("44 whole", 44, 3, 132, 1, "Zmiana czasu T_d. Nowa wartość: 90,0s");
        row("44 999", 44, 3, 231, 1, "Zmiana czasu T_d. Nowa wartość: 99,9s");
        row("44 1004 cut", 44, 3, 236, 1, "Zmiana czasu T_d. Nowa wartość: 100,0s");
        row("44 1234 cut", 44, 4, 210, 1, "Zmiana czasu T_d. Nowa wartość: 123,0s");
        row("44 1235 rounds up", 44, 4, 211, 1, "Zmiana czasu T_d. Nowa wartość: 124,0s");
        row("44 9995 carries", 44, 39, 11, 1, "Zmiana czasu T_d. Nowa wartość: 1000,0s");
        row("44 65535 Polish", 44, 255, 255, 1, "Zmiana czasu T_d. Nowa wartość: 6550,0s");
        row("44 65535 C", 44, 255, 255, 1, "Zmiana czasu T_d. Nowa wartość: 6550.0s", kC);
        row("42 65535 German", 42, 255, 255, 1, "Zmiana czasu T_On. Nowa wartość: 6550,0s",
            QLocale(QLocale::German, QLocale::Germany));

        // Choices in Kod2; an unknown value leaves the prefix or nothing.
        row("47 0", 47, 0, 0, 1, "Zmiana typu aparatów. Nowy aparat: Stycznik");
        row("47 1", 47, 0, 1, 1, "Zmiana typu aparatów. Nowy aparat: Wyłącznik");
        row("47 2", 47, 0, 2, 1, "Zmiana typu aparatów. Nowy aparat: ");
        row("47 Kod1 ignored", 47, 1, 0, 1, "Zmiana typu aparatów. Nowy aparat: Stycznik");
        row("48 0", 48, 0, 0, 1, "Zmiana linii priorytetowej. Nowa linia priorytetowa: Brak");
        row("48 1", 48, 0, 1, 1, "Zmiana linii priorytetowej. Nowa linia priorytetowa: N1");
        row("48 2", 48, 0, 2, 1, "Zmiana linii priorytetowej. Nowa linia priorytetowa: N2");
        row("48 3", 48, 0, 3, 1, "Zmiana linii priorytetowej. Nowa linia priorytetowa: N3");
        row("48 4", 48, 0, 4, 1, "Zmiana linii priorytetowej. Nowa linia priorytetowa: ");
        row("49 1", 49, 0, 1, 1, "Ustawiony zrzut mocy dla linii N1");
        row("49 0", 49, 0, 0, 1, "Brak zrzutu mocy dla linii N1");
        row("49 2", 49, 0, 2, 1, "");
        row("50 1", 50, 0, 1, 1, "Ustawiony zrzut mocy dla linii N2");
        row("50 0", 50, 0, 0, 1, "Brak zrzutu mocy dla linii N2");
        row("51 1", 51, 0, 1, 1, "Ustawiony zrzut mocy dla linii N3");
        row("51 0", 51, 0, 0, 1, "Brak zrzutu mocy dla linii N3");
        row("51 255", 51, 0, 255, 1, "");

        row("60", 60, 0, 0, 2, "Uruchomienie generatora");
        row("61", 61, 0, 0, 2, "Zatrzymanie generatora");
        row("62", 62, 0, 0, 2, "Rozpoczęcie zrzutu mocy");
        row("63", 63, 0, 0, 2, "Zakończenie zrzutu mocy");
        row("64", 64, 0, 0, 2, "Brak poprawnego napięcia na generatorze");

        // Gaps in the table and codes beyond it.
        row("16", 16, 0, 0, 1, "");
        row("20", 20, 0, 0, 1, "");
        row("31", 31, 0, 0, 1, "");
        row("39", 39, 0, 0, 1, "");
        row("52", 52, 0, 1, 1, "");
        row("59", 59, 0, 0, 1, "");
        row("65", 65, 0, 0, 1, "");
        row("255", 255, 0, 0, 1, "");
    }
    void text() {
        QFETCH(int, event);
        QFETCH(int, kod1);
        QFETCH(int, kod2);
        QFETCH(int, progr);
        QFETCH(QLocale, locale);
        QFETCH(QString, expected);
        QCOMPARE(eventText(event, kod1, kod2, progr, locale), expected);
    }

    void row_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("progr");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("czas");
        QTest::addColumn<QString>("zdarzenie");
        QTest::addColumn<int>("indeks");
        QTest::addColumn<QStringList>("status"); // N1..N3
        QTest::addColumn<QStringList>("faults"); // N1..N3, see expandFaults
        QTest::addColumn<QVariant>("aktywna");   // null: not set
        QTest::addColumn<QVariant>("program");

        const QString zla = "Linia zła";
        const QString kwDobra = "Linia kwalifikowana jako dobra";
        const QString kwZla = "Linia kwalifikowana jako zła";
        const QString dobra = "Linia Dobra";
        const QVariant unset;

        // Every line state, and each fault bit on its own phase in one of the lines.
        QTest::newRow("single digits")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0x41, 0xA2, 0xDC, 0x21, 0, 15)) << 1
            << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 15 << QStringList{kwDobra, kwZla, dobra}
            << QStringList{"TFF/FFF", "FTF/FFT", "FFT/TTF"} << QVariant("Aktywna linia N1")
            << QVariant("N1 + N2 + N3");
        QTest::newRow("two digits")
            << toBytes(record(10, 12, 31, 23, 59, 3, 0x00, 0xFF, 0x3F, 0x43, 1, 243)) << 3
            << "2010-12-31 "
            << "23:59"
            << "Wyłączenie linii N1" << 499 << QStringList{zla, dobra, zla}
            << QStringList{"FFF/FFF", "TTT/TTT", "TTT/TTT"} << QVariant("Aktywna linia N2")
            << QVariant("N1 + N3");
        QTest::newRow("year 0, midnight")
            << toBytes(record(0, 1, 1, 0, 0, 6, 0x88, 0x50, 0xC0, 0x65, 0, 0)) << 5 << "2000-01-01 "
            << "00:00"
            << "Załączenie linii N1" << 0 << QStringList{kwZla, kwDobra, dobra}
            << QStringList{"FFF/TFF", "FFF/FTF", "FFF/FFF"} << QVariant("Aktywna linia N3")
            << QVariant("N1+N3+S");
        // A year byte of 100 or more is still a four-digit year, not "20123".
        QTest::newRow("year byte 123")
            << toBytes(record(123, 13, 9, 10, 10, 60, 0, 0, 0, 0x8A, 0, 1)) << 2 << "2123-13-09 "
            << "10:10"
            << "Uruchomienie generatora" << 1 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Aktywna linia N1 i N3")
            << QVariant("Tylko N1");
        // The configured program, not the record's, picks the S text.
        QTest::newRow("S text from progr")
            << toBytes(record(7, 3, 7, 9, 5, 4, 0xC0, 0xC0, 0xC0, 0xA1, 0, 2)) << 5 << "2007-03-07 "
            << "09:05"
            << "Odłączenie sprzęgu S" << 2 << QStringList{dobra, dobra, dobra}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Aktywna linia N1 i S")
            << QVariant("N1 + N2 + N3");
        // A value event still fills the line fields from the same bytes.
        QTest::newRow("value event keeps line fields")
            << toBytes(record(7, 3, 7, 9, 5, 22, 0x00, 0xE6, 0x40, 0xCC, 0xFF, 0xFF)) << 1
            << "2007-03-07 "
            << "09:05"
            << "Zmiana napięcia Umin dla linii N1. Nowa wartość: 230V" << 65535
            << QStringList{zla, dobra, kwDobra} << QStringList{"FFF/FFF", "FTT/FFT", "FFF/FFF"}
            << QVariant("Aktywna linia N3 i S") << QVariant("Tylko N3");
        QTest::newRow("Kod4 0x02: Brak / N1 + N2 + G")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0x02, 0, 3)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 3 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Brak aktywnej linii")
            << QVariant("N1 + N2 + G");
        QTest::newRow("Kod4 0x6B: N3 / Tylko N2")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0x6B, 0, 4)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 4 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Aktywna linia N3")
            << QVariant("Tylko N2");
        QTest::newRow("Kod4 0x24: N1 / N1 + G")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0x24, 0, 5)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 5 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Aktywna linia N1")
            << QVariant("N1 + G");
        QTest::newRow("Kod4 0xFF: neither set")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0xFF, 0, 6)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 6 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << unset << unset;
        QTest::newRow("Kod4 0xE0: active code 7 not set")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0xE0, 0, 7)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 7 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << unset << QVariant("Brak");
        QTest::newRow("Kod4 0x06: program 6 not set")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0x06, 0, 8)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 8 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Brak aktywnej linii")
            << unset;
        QTest::newRow("Kod4 0x2D: program 13 not set")
            << toBytes(record(7, 3, 7, 9, 5, 0, 0, 0, 0, 0x2D, 0, 9)) << 1 << "2007-03-07 "
            << "09:05"
            << "Start systemu" << 9 << QStringList{zla, zla, zla}
            << QStringList{"FFF/FFF", "FFF/FFF", "FFF/FFF"} << QVariant("Aktywna linia N1")
            << unset;
    }
    void row() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, progr);
        QFETCH(QString, data);
        QFETCH(QString, czas);
        QFETCH(QString, zdarzenie);
        QFETCH(int, indeks);
        QFETCH(QStringList, status);
        QFETCH(QStringList, faults);
        QFETCH(QVariant, aktywna);
        QFETCH(QVariant, program);

        const EventRow r = decodeEventRecord(fromBytes(bytes), progr, kPolish);
        QCOMPARE(r.DATA, data);
        QCOMPARE(r.CZAS, czas);
        QCOMPARE(r.ZDARZENIE, zdarzenie);
        QCOMPARE(r.INDEKS, indeks);
        for (int line = 0; line < 3; ++line) {
            const EventLineFields& f = r.N[line];
            QCOMPARE(f.Status, status[line]);
            const QStringList expected = expandFaults(faults[line]);
            QCOMPARE(
                QStringList({f.Umin[0], f.Umin[1], f.Umin[2], f.Umax[0], f.Umax[1], f.Umax[2]}),
                expected);
        }
        QCOMPARE(toVariant(r.Aktywna), aktywna);
        QCOMPARE(toVariant(r.Program), program);
    }

    // The table's columns in the order a row is written.
    void fieldOrder() {
        QStringList names;
        for (const char* n : eventTableFieldOrder())
            names << QString::fromLatin1(n);
        const QStringList expected = {
            "DATA",      "CZAS",      "ZDARZENIE", "UWAGI",     "INDEKS",    "N1_Status",
            "N1L1_Umin", "N1L2_Umin", "N1L3_Umin", "N1L1_Umax", "N1L2_Umax", "N1L3_Umax",
            "N2_Status", "N2L1_Umin", "N2L2_Umin", "N2L3_Umin", "N2L1_Umax", "N2L2_Umax",
            "N2L3_Umax", "N3_Status", "N3L1_Umin", "N3L2_Umin", "N3L3_Umin", "N3L1_Umax",
            "N3L2_Umax", "N3L3_Umax", "Aktywna",   "Program",
        };
        QCOMPARE(names, expected);
    }
};

QTEST_GUILESS_MAIN(TestEventRecord)
#include "tst_eventrecord.moc"
