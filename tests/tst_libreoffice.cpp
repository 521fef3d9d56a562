// The tables open in LibreOffice Calc with the right values: both are
// converted to CSV by headless LibreOffice and read back.
#include "history/csvexport.h"
#include "history/lineexport.h"
#include "tables/table.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qta;

class TestLibreOffice : public QObject {
    Q_OBJECT
    QString soffice;
    QTemporaryDir dir;

    // Converts `table` to UTF-8 CSV; Calc's dBase import is told the code page.
    QStringList convert(const QString& table,
                        const QString& infilter = QStringLiteral("dBase:33")) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.path() + "/profile",
                          QStringLiteral("--headless"), QStringLiteral("--infilter=") + infilter,
                          QStringLiteral("--convert-to"),
                          QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1"),
                          QStringLiteral("--outdir"), dir.path() + "/out", table});
        if (!p.waitForFinished(180000) || p.exitCode() != 0)
            return {QStringLiteral("soffice failed: ") + p.readAllStandardError()};
        QFile f(dir.path() + "/out/" + QFileInfo(table).completeBaseName() + ".csv");
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("no CSV written: ") + p.readAllStandardError()};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase() {
        soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed (scripts/bootstrap installs it)");
        QVERIFY(dir.isValid());
    }

    void lineVoltageTable() {
        const QString path = dir.path() + "/linia.dbf";
        TTable::createLinia(path);
        TTable t(path);
        t.Open();
        t.Append();
        t.FieldByName(QStringLiteral("CZAS"))
            .setAsDateTime(QDateTime(QDate(2026, 12, 10), QTime(13, 45, 7)));
        const int volts[9] = {230, 0, 65535, 81, 299, 300, 1, 2, 3};
        for (int i = 0; i < 9; ++i)
            t.FieldByName(QStringLiteral("N%1L%2").arg(i / 3 + 1).arg(i % 3 + 1))
                .setAsInteger(volts[i]);
        t.Post();
        t.Close();

        const QStringList rows = convert(path);
        QCOMPARE(rows.size(), 2);
        QVERIFY2(rows[0].startsWith(QStringLiteral("\"CZAS\"")), qPrintable(rows[0]));
        // Calc shows the date and time with its default (en-US) format.
        QCOMPARE(rows[1], QStringLiteral("12/10/26 01:45 PM,230,0,65535,81,299,300,1,2,3"));
    }

    void eventLogTable() {
        const QString path = dir.path() + "/rejestr.dbf";
        TTable::createRejestr(path);
        TTable t(path);
        t.Open();
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(499);
        t.FieldByName(QStringLiteral("DATA")).setAsString(QStringLiteral("2007-03-07 "));
        t.FieldByName(QStringLiteral("ZDARZENIE"))
            .setAsString(QStringLiteral("Zadziałanie wyłacznika bezpieczeństwa"));
        t.FieldByName(QStringLiteral("N1_STATUS")).setAsString(QStringLiteral("Linia zła"));
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(QStringLiteral("ŻÓŁĆ źdźbło ĄĘŃŚ"));
        t.Post();
        t.Close();

        const QStringList rows = convert(path);
        QCOMPARE(rows.size(), 2);
        const QStringList cells = rows[1].split(QLatin1Char(','));
        QCOMPARE(cells.value(0), QStringLiteral("499"));
        QCOMPARE(cells.value(1), QStringLiteral("\"2007-03-07\""));
        QCOMPARE(cells.value(3), QStringLiteral("\"Zadziałanie wyłacznika bezpieczeństwa\""));
        QCOMPARE(cells.value(4), QStringLiteral("\"ŻÓŁĆ źdźbło ĄĘŃŚ\""));
        QCOMPARE(cells.value(5), QStringLiteral("\"Linia zła\""));
    }

    // The CSV export as Calc reads it with the options of a Polish user
    // (';' separator, UTF-8): every row and column, the letters intact, a
    // quoted ';' and '"' inside one cell.
    void exportedCsv() {
        const QString path = dir.path() + "/eksport.dbf";
        TTable::createRejestr(path);
        TTable t(path);
        t.Open();
        for (int i = 0; i < 3; ++i) {
            t.Append();
            t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(10 + i);
            t.FieldByName(QStringLiteral("DATA"))
                .setAsString(QStringLiteral("2024-03-1%1 ").arg(i));
            t.FieldByName(QStringLiteral("ZDARZENIE"))
                .setAsString(QStringLiteral("Przełączenie na linię N%1").arg(i + 1));
            t.FieldByName(QStringLiteral("UWAGI"))
                .setAsString(QStringLiteral("wymiana bezpiecznika; \"pilne\" żółć"));
            t.Post();
        }
        const QString csv = dir.path() + "/eksport.csv";
        QCOMPARE(exportTableCsvFile(t, csv, {QDate(2024, 3, 11), QDate(2024, 3, 12)}), 2);

        const QStringList rows = convert(csv, QStringLiteral("CSV:59,34,76,1"));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].split(QLatin1Char(',')).size(), 28);
        QVERIFY2(rows[0].startsWith(
                     QStringLiteral("\"INDEKS\",\"DATA\",\"CZAS\",\"ZDARZENIE\",\"UWAGI\",")),
                 qPrintable(rows[0]));
        const QStringList cells = rows[2].split(QLatin1Char(','));
        QCOMPARE(cells.size(), 28);
        QCOMPARE(cells.value(0), QStringLiteral("12"));
        QCOMPARE(cells.value(3), QStringLiteral("\"Przełączenie na linię N3\""));
        QCOMPARE(cells.value(4), QStringLiteral("\"wymiana bezpiecznika; \"\"pilne\"\" żółć\""));
    }

    // A chart's visible period as Calc reads it with a Polish user's options:
    // CZAS taken as a date and time (unquoted: a number, not text), the rows
    // in time order across a clock set back, the voltages as numbers. The
    // folder's name has Polish letters.
    void chartExport() {
        const QString path = dir.path() + "/wykres.dbf";
        TTable::createLinia(path);
        TTable t(path);
        t.Open();
        const QDate day(2026, 10, 25);
        const struct {
            QTime time;
            int volts;
        } rows[] = {{QTime(2, 59, 58), 231},
                    {QTime(2, 59, 59), 0},
                    {QTime(2, 0, 5), 65533},
                    {QTime(3, 10, 0), 229}};
        for (const auto& r : rows) {
            t.Append();
            t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(QDateTime(day, r.time));
            for (int k = 1; k <= 3; ++k)
                t.FieldByName(QStringLiteral("N2L%1").arg(k)).setAsInteger(r.volts + k - 1);
            t.Post();
        }
        t.Close();
        TLineIndex index;
        index.open(path);
        const TWallMs t0 = QDateTime(day, QTime(2, 0), Qt::UTC).toMSecsSinceEpoch();
        const TLineExport what(index, 2, t0, t0 + 3600000);
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("wykresy żółć")));
        const QString csv = dir.path() + QStringLiteral("/wykresy żółć/N2.csv");
        QString error;
        QCOMPARE(what.write(csv, &error), TLineExport::Outcome::Written);

        const QStringList got = convert(csv, QStringLiteral("CSV:59,34,76,1,,1045,false,true"));
        const QStringList want = {
            QStringLiteral("\"CZAS\",\"N2L1\",\"N2L2\",\"N2L3\""),
            QStringLiteral("2026-10-25 02:00:05,65533,65534,65535"),
            QStringLiteral("2026-10-25 02:59:58,231,232,233"),
            QStringLiteral("2026-10-25 02:59:59,0,1,2"),
        };
        QCOMPARE(got, want);
    }
};

QTEST_GUILESS_MAIN(TestLibreOffice)
#include "tst_libreoffice.moc"
