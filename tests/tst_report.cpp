// The commissioning and service report made by `qta504-tables report` from a
// data folder: what pdftotext finds in it (the identifier, every setting as
// the editors show it, every event of the period and none outside it, the
// summary computed here from the tables), the embedded fonts, pages that
// grow with the log, an empty period, and bad input refused with exit 2.
// The dialog makes the report while the event loop runs, and a report stopped
// or failed leaves no file behind.
#include "alarms/alarmjournal.h"
#include "report/reportcontent.h"
#include "report/reportdialog.h"
#include "report/reportpdf.h"
#include "settings/backupfile.h"
#include "settings/controllerfile.h"
#include "tables/table.h"
#include "testpaths.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <map>

using namespace qta;

namespace {

const QString kTool = qta::test::binPath(QStringLiteral("qta504-tables"));

struct Run {
    int code = -1;
    QString out, err;
};

Run tool(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(kTool, args);
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The PDF's text in the order it was drawn, all white space as one space.
QString pdfText(const QString& pdf) {
    return run(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf, QStringLiteral("-")})
        .simplified();
}

int pdfPages(const QString& pdf) {
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

struct Ev {
    QString date, time, text, remark;
    std::array<QString, 3> states{QStringLiteral("Linia Dobra"), QStringLiteral("Linia zła"),
                                  QStringLiteral("Linia kwalifikowana jako dobra")};
};

void writeEvents(const QString& file, const std::vector<Ev>& events) {
    TTable t(file);
    t.Open();
    int i = 0;
    for (const Ev& e : events) {
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(i++ % 500);
        t.FieldByName(QStringLiteral("DATA")).setAsString(e.date + u' ');
        t.FieldByName(QStringLiteral("CZAS")).setAsString(e.time);
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(e.text);
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(e.remark);
        for (int n = 0; n < 3; ++n)
            t.FieldByName(QStringLiteral("N%1_STATUS").arg(n + 1)).setAsString(e.states[size_t(n)]);
        t.Post();
    }
}

// A data folder with empty tables.
QString makeFolder(const QTemporaryDir& tmp, const QString& name) {
    const QString dir = QDir(tmp.path()).filePath(name);
    QDir().mkpath(dir + QStringLiteral("/rejestr"));
    TTable::createPair(dir + QStringLiteral("/rejestr/rejestr.dbf"),
                       dir + QStringLiteral("/rejestr/linia.dbf"),
                       dir + QStringLiteral("/rejestr/alarmy.dbf"));
    return dir;
}

QString eventRow(const Ev& e) {
    QStringList cells{e.date, e.time, e.text};
    for (const QString& s : e.states) {
        QString t = s.mid(6);
        t[0] = t[0].toLower();
        cells << t;
    }
    if (!e.remark.isEmpty())
        cells << e.remark;
    return cells.join(u' ');
}

// "2 h 15 min", as a person would write the length of a break.
QString lengthText(qint64 minutes) {
    QStringList p;
    if (minutes >= 1440)
        p << (minutes / 1440 == 1 ? QStringLiteral("1 dzień")
                                  : QStringLiteral("%1 dni").arg(minutes / 1440));
    if (minutes % 1440 >= 60)
        p << QStringLiteral("%1 h").arg(minutes % 1440 / 60);
    if (minutes % 60 || p.isEmpty())
        p << QStringLiteral("%1 min").arg(minutes % 60);
    return p.join(u' ');
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString dir_, pdf_, text_;
    std::vector<Ev> events_;
    TKonf konf_;

private Q_SLOTS:
    void initTestCase();
    void holdsEverySettingAsTheEditorsShowIt();
    void holdsTheEventsOfThePeriodOnly();
    void summaryAgreesWithTheTables();
    void fontsEmbedded();
    void backupFileTakesThePlaceOfTheLastRead();
    void pagesGrowWithTheLog();
    void emptyPeriodSaysSo();
    void badInputRefused_data();
    void badInputRefused();
    void dialogSavesAndPrints();
    void stoppedOrFailedLeavesNoFile_data();
    void stoppedOrFailedLeavesNoFile();
    void fileDroppedHalfwayIsNotWritten();
    void windowStaysLiveDuringAYear();
};

void TestReport::initTestCase() {
    QVERIFY(tmp_.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
             "pdftotext (poppler-utils) is missing: scripts/bootstrap installs it");
    dir_ = makeFolder(tmp_, QStringLiteral("obiekt"));
    const QString linia = dir_ + QStringLiteral("/rejestr/linia.dbf");
    QVERIFY(QFile::remove(linia));
    const Run g =
        tool({QStringLiteral("generate"), linia, QStringLiteral("--rows"), QStringLiteral("400000"),
              QStringLiteral("--end"), QStringLiteral("2026-03-31 20:00:00"),
              QStringLiteral("--seed"), QStringLiteral("4")});
    QVERIFY2(g.code == 0, qPrintable(g.err));

    const QString semi = QStringLiteral("Wymiana bezpiecznika F2; zażółć gęślą jaźń");
    events_ = {
        {"2026-03-20", "08:00", "Start systemu", "poza okresem: przed nim"},
        {"2026-03-27", "07:58", "Start systemu", "uruchomienie po montażu"},
        {"2026-03-27", "07:58", "Linia N1 została zakwalifikowana jako dobra", ""},
        {"2026-03-27", "08:12", "Zmiana napięcia Umin dla linii N1. Nowa wartość: 185V", ""},
        {"2026-03-28", "03:17", "Brak dobrych linii zasilających", ""},
        {"2026-03-28", "03:19", "Zadziałanie wyłacznika bezpieczeństwa", semi},
        {"2026-03-28", "05:32", "Linia N1 została zakwalifikowana jako dobra", ""},
        {"2026-03-28", "05:33", "Załączenie linii N1", ""},
        {"2026-03-30", "10:00", "Brak dobrych linii zasilających", ""},
        {"2026-03-30", "10:20", "Linia N2 została zakwalifikowana jako dobra",
         "Próba generatora; łącznik ręczny ŻÓŁĆ, przełączenie na N2 trwało dłużej niż zwykle, "
         "więc technik sprawdził czasy T Off, T D i T On oraz stan styków aparatu głównego"},
        {"2026-03-30", "10:21", "Załączenie linii N2", ""},
        {"2026-03-31", "23:59", "Zmiana napięcia Umin dla linii N2. Nowa wartość: 190V", ""},
        {"2026-04-02", "09:00", "Wyłączenie linii N1", "poza okresem: po nim"},
    };
    writeEvents(dir_ + QStringLiteral("/rejestr/rejestr.dbf"), events_);

    // The controller as last read: program N1 + N2, switch-disconnectors.
    for (int n = 1; n <= 3; ++n)
        konf_.Linia[size_t(n)] = {false, n == 1, 180 + n * 5, 250 + n, 5 + n};
    konf_.Kwal_ON = 12;
    konf_.Kwal_OFF = 3;
    konf_.Przelaczanie = 40;
    konf_.Uzbrajanie = 2.5;
    konf_.Rozbrajanie = 1.0;
    konf_.Przerwa = 0.7;
    konf_.Aparat = true;
    konf_.Progr = 3;
    konf_.Linia_Glowna = 2;
    konf_.Kontrola_On = true;
    konf_.Kontrola_Opozn = 17;
    konf_.Podsw_On = false;
    konf_.Podsw_Czas = 33;
    konf_.Podsw_Jasnosc = 71;
    konf_.Buczek_On = true;
    konf_.Buczek_Czas = 9;
    konf_.Rejestr_On = true;
    writeControllerFile(dir_ + QStringLiteral("/rejestr/sterownik.ini"), konf_,
                        QStringLiteral("QTA7x3"), QDateTime(QDate(2026, 3, 31), QTime(9, 15)));

    TAlarmJournal j(dir_ + QStringLiteral("/rejestr/alarmy.dbf"));
    j.open();
    j.append({QDateTime(QDate(2026, 3, 28), QTime(3, 17, 5)),
              QStringLiteral("Brak dobrych linii zasilających"), QStringLiteral("wysoki"),
              QStringLiteral("Wystąpił"), QString(), QString()});
    j.append({QDateTime(QDate(2026, 3, 28), QTime(3, 40)),
              QStringLiteral("Brak dobrych linii zasilających"), QStringLiteral("wysoki"),
              QStringLiteral("Potwierdzony"), QStringLiteral("serwis"),
              QStringLiteral("Zgłoszono do dyspozytora; ŁÓDŹ")});
    j.append({QDateTime(QDate(2026, 4, 3), QTime(1, 0)), QStringLiteral("Linia zła: N2"),
              QStringLiteral("średni"), QStringLiteral("Wystąpił"), QString(),
              QStringLiteral("alarm spoza okresu")});
    j.close();

    pdf_ = QDir(tmp_.path()).filePath(QStringLiteral("raport.pdf"));
    const Run r =
        tool({QStringLiteral("report"), dir_, pdf_, QStringLiteral("--from"),
              QStringLiteral("2026-03-27"), QStringLiteral("--to"), QStringLiteral("2026-03-31")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    text_ = pdfText(pdf_);
    QVERIFY(!text_.isEmpty());
}

void TestReport::holdsEverySettingAsTheEditorsShowIt() {
    QVERIFY(text_.contains(QStringLiteral("QTA-504, identyfikator QTA7x3")));
    QVERIFY(text_.contains(QStringLiteral("Sterownik QTA-504: QTA7x3"))); // the running header
    QVERIFY(text_.contains(QStringLiteral("ostatni odczyt ze sterownika, 2026-03-31 09:15")));
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"U_Min linii N1", "185 V"},
        {"U_Hist (histereza) linii N1", "6 V"},
        {"U_Max linii N1", "251 V"},
        {"U_Min linii N2", "190 V"},
        {"U_Hist (histereza) linii N3", "8 V"},
        {"U_Max linii N3", "253 V"},
        {"T Kwal ON, czas kwalifikacji linii jako dobrej", "12 s"},
        {"T Min, minimalny czas załączenia linii", "40 s"},
        {"T Kwal OFF, czas kwalifikacji linii jako złej", "3 s"},
        {"Typ aparatów", "Rozłączniki"},
        {"T Off, czas rozbrajania aparatu", "1,0 s"},
        {"T D, przerwa między wyłączeniem i załączeniem aparatów", "0,7 s"},
        {"T On, czas uzbrajania aparatu", "2,5 s"},
        {"Program pracy", "Linie N1 + N2"},
        {"Linia główna", "Linia N2"},
        {"Zrzut obciążenia N1", "włączony"},
        {"Zrzut obciążenia N2", "wyłączony"},
        {"Kontrola napięcia wyjściowego", "włączony"},
        {"Opóźnienie załączenia alarmu kontroli napięcia wyjściowego", "17"},
        {"Podświetlanie LCD", "wyłączony"},
        {"Czas podświetlania LCD", "33"},
        {"Jasność podświetlania LCD", "71"},
        {"Sygnalizacja dźwiękowa", "włączony"},
        {"Czas trwania alarmu dźwiękowego", "9"},
        {"Rejestr zdarzeń", "włączony"},
    };
    for (const auto& [name, value] : rows) {
        const QString row = QString::fromUtf8(name) + u' ' + QString::fromUtf8(value);
        QVERIFY2(text_.contains(row), qPrintable(row));
    }
}

void TestReport::holdsTheEventsOfThePeriodOnly() {
    for (const Ev& e : events_) {
        const bool inside = e.date >= u"2026-03-27" && e.date <= u"2026-03-31";
        const QString row = eventRow(e);
        QVERIFY2(text_.contains(row) == inside, qPrintable(row));
        if (!inside) {
            QVERIFY2(!text_.contains(e.remark), qPrintable(e.remark));
            QVERIFY2(!text_.contains(e.date), qPrintable(e.date));
        }
    }
    // The alarm journal of the period, remark and all.
    QVERIFY(text_.contains(QStringLiteral("2026-03-28 03:40:00 Brak dobrych linii zasilających "
                                          "wysoki Potwierdzony serwis Zgłoszono do dyspozytora; "
                                          "ŁÓDŹ")));
    QVERIFY(!text_.contains(QStringLiteral("alarm spoza okresu")));
}

void TestReport::summaryAgreesWithTheTables() {
    // The counts by kind: the text up to its first full stop.
    std::map<QString, int> kinds;
    int inPeriod = 0;
    std::vector<const Ev*> period;
    for (const Ev& e : events_)
        if (e.date >= u"2026-03-27" && e.date <= u"2026-03-31") {
            ++kinds[e.text.section(u'.', 0, 0)];
            ++inPeriod;
            period.push_back(&e);
        }
    QVERIFY(text_.contains(QStringLiteral("Zdarzeń w okresie %1").arg(inPeriod)));
    for (const auto& [kind, n] : kinds)
        QVERIFY2(text_.contains(QStringLiteral("%1 %2").arg(kind).arg(n)), qPrintable(kind));

    // No good line: from "Brak dobrych linii" to the next line qualified good.
    qint64 longest = -1;
    int breaks = 0;
    QDateTime since, from, to;
    for (const Ev* e : period) {
        const QDateTime t =
            QDateTime::fromString(e->date + u' ' + e->time, QStringLiteral("yyyy-MM-dd HH:mm"));
        if (e->text == u"Brak dobrych linii zasilających" && !since.isValid()) {
            since = t;
            ++breaks;
        } else if (e->text.endsWith(u"zakwalifikowana jako dobra") && since.isValid()) {
            if (since.secsTo(t) / 60 > longest)
                longest = since.secsTo(t) / 60, from = since, to = t;
            since = {};
        }
    }
    QCOMPARE(breaks, 2);
    QVERIFY(text_.contains(QStringLiteral("Przerw bez dobrej linii zasilającej %1").arg(breaks)));
    const QString want =
        QStringLiteral("Najdłuższy czas bez dobrej linii %1 (od %2 do %3)")
            .arg(lengthText(longest), from.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                 to.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    QVERIFY2(text_.contains(want), qPrintable(want));

    // The lowest and highest voltage of each phase of the lines in use (N1,
    // N2 for program 3), from every row of the period but the zero marks.
    TTable t(dir_ + QStringLiteral("/rejestr/linia.dbf"));
    t.Open();
    std::array<int, 9> lo, hi{};
    lo.fill(65535);
    const QDate first(2026, 3, 27), last(2026, 3, 31);
    for (int r = 0; r < t.RecordCount(); ++r) {
        const QDate d = t.dateTimeValue(r, 0).date();
        if (d < first || d > last)
            continue;
        std::array<int, 9> v{};
        for (int k = 0; k < 9; ++k)
            v[size_t(k)] = int(t.numberValue(r, k + 1));
        if (v == std::array<int, 9>{})
            continue;
        for (size_t k = 0; k < 9; ++k)
            lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
    }
    for (int line = 1; line <= 2; ++line)
        for (int p = 1; p <= 3; ++p) {
            const auto k = size_t(3 * (line - 1) + p - 1);
            const QString row =
                QStringLiteral("N%1 L%2 %3 V %4 V").arg(line).arg(p).arg(lo[k]).arg(hi[k]);
            QVERIFY2(text_.contains(row), qPrintable(row));
        }
    QVERIFY(!text_.contains(QStringLiteral("N3 L1 ")));
    QVERIFY(text_.contains(QStringLiteral("Linia N1 L1 L2 L3"))); // the charts of N1 and N2
    QVERIFY(text_.contains(QStringLiteral("Linia N2 L1 L2 L3")));
}

void TestReport::fontsEmbedded() {
    const QStringList lines =
        run(QStringLiteral("pdffonts"), {pdf_}).split(u'\n', Qt::SkipEmptyParts).mid(2);
    QVERIFY(!lines.isEmpty());
    for (const QString& l : lines) {
        // name type... encoding emb sub uni object ID
        const QStringList f = l.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(f.size() >= 7 && f[f.size() - 5] == u"yes", qPrintable(l));
        QVERIFY2(f[0].contains(QStringLiteral("DejaVuSans")), qPrintable(l));
    }
    // Every Polish letter came through as text.
    QVERIFY(text_.contains(QStringLiteral("zażółć gęślą jaźń")));
    QVERIFY(text_.contains(QStringLiteral("ŻÓŁĆ")));
}

void TestReport::backupFileTakesThePlaceOfTheLastRead() {
    TKonf k = konf_;
    k.Linia[1].Umin = 205;
    k.Uzbrajanie = 4.2;
    k.Progr = 10;
    const QString backup = QDir(tmp_.path()).filePath(QStringLiteral("Konfiguracja.ini"));
    writeBackup(backup, QStringLiteral("Konfiguracja"), QStringLiteral("Konfiguracja"),
                configFields(), k, QStringLiteral("QTA7x3"),
                QDateTime(QDate(2026, 2, 1), QTime(12, 0)));
    const QString pdf = QDir(tmp_.path()).filePath(QStringLiteral("kopia.pdf"));
    const Run r = tool({QStringLiteral("report"), dir_, pdf, QStringLiteral("--from"),
                        QStringLiteral("2026-03-31"), QStringLiteral("--backup"), backup});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("plik kopii ustawień Konfiguracja.ini, zapisany "
                                         "2026-02-01 12:00")));
    QVERIFY(text.contains(QStringLiteral("U_Min linii N1 205 V")));
    QVERIFY(text.contains(QStringLiteral("T On, czas uzbrajania aparatu 4,2 s")));
    QVERIFY(text.contains(QStringLiteral("Program pracy Tylko linia N1")));
    // The customisation, which the backup lacks, still from the last read.
    QVERIFY(text.contains(QStringLiteral("Jasność podświetlania LCD 71")));
    // Only N1 is in use now: one chart, one line of extremes.
    QVERIFY(text.contains(QStringLiteral("Linia N1 L1 L2 L3")));
    QVERIFY(!text.contains(QStringLiteral("Linia N2 L1 L2 L3")));
}

void TestReport::pagesGrowWithTheLog() {
    // 8 events on the first day, 120 on the second, 450 on the third.
    const QString dir = makeFolder(tmp_, QStringLiteral("dlugi"));
    std::vector<Ev> events;
    for (const auto& [day, n] :
         {std::pair{"2026-05-01", 8}, {"2026-05-02", 120}, {"2026-05-03", 450}})
        for (int i = 0; i < n; ++i)
            events.push_back(
                {day, QTime(0, 0).addSecs(i * 3).toString(QStringLiteral("HH:mm")),
                 QStringLiteral("Załączenie linii N%1").arg(i % 3 + 1),
                 i % 7 ? QString() : QStringLiteral("uwaga %1 dnia %2").arg(i).arg(day)});
    writeEvents(dir + QStringLiteral("/rejestr/rejestr.dbf"), events);
    int previous = 0;
    for (const char* to : {"2026-05-01", "2026-05-02", "2026-05-03"}) {
        const QString pdf = QDir(tmp_.path()).filePath(QStringLiteral("dlugi_%1.pdf").arg(to));
        const Run r =
            tool({QStringLiteral("report"), dir, pdf, QStringLiteral("--from"),
                  QStringLiteral("2026-05-01"), QStringLiteral("--to"), QString::fromLatin1(to)});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const int pages = pdfPages(pdf);
        QVERIFY2(pages > previous, qPrintable(QStringLiteral("%1: %2 pages").arg(to).arg(pages)));
        previous = pages;
        // Each page of the log repeats the table's header; the last row is there.
        const QString text = pdfText(pdf);
        QVERIFY(text.contains(QStringLiteral("Strona %1 z %1").arg(pages)));
        const qsizetype headers = text.count(QStringLiteral("Data Czas Zdarzenie N1 N2 N3 Uwagi"));
        const qsizetype rows = std::count_if(events.begin(), events.end(), [&](const Ev& e) {
            return e.date <= QString::fromLatin1(to);
        });
        QVERIFY2(headers >= rows / 60, qPrintable(QString::number(headers)));
        QVERIFY(text.contains(QStringLiteral("uwaga 448 dnia 2026-05-03")) ==
                (QString::fromLatin1(to) == u"2026-05-03"));
    }
}

void TestReport::emptyPeriodSaysSo() {
    const QString pdf = QDir(tmp_.path()).filePath(QStringLiteral("pusty.pdf"));
    const Run r =
        tool({QStringLiteral("report"), dir_, pdf, QStringLiteral("--from"),
              QStringLiteral("2025-01-01"), QStringLiteral("--to"), QStringLiteral("2025-01-31")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Brak zdarzeń w wybranym okresie")));
    QVERIFY(text.contains(QStringLiteral("Brak alarmów w wybranym okresie")));
    QVERIFY(text.contains(QStringLiteral("Brak pomiarów napięć w wybranym okresie")));
    QVERIFY(text.contains(QStringLiteral("Zdarzeń w okresie 0")));
    QVERIFY(text.contains(QStringLiteral("Najdłuższy czas bez dobrej linii nie wystąpił")));
}

void TestReport::badInputRefused_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString t = tmp_.path();
    QFile notIni(t + QStringLiteral("/zly.ini"));
    QVERIFY(notIni.open(QIODevice::WriteOnly));
    notIni.write("[Inne]\nA=1\n");
    notIni.close();
    QFile badValue(t + QStringLiteral("/zla_wartosc.ini"));
    QVERIFY(badValue.open(QIODevice::WriteOnly));
    badValue.write("[Konfiguracja]\nN1_U_Min=dwieście\n");
    badValue.close();
    QDir().mkpath(t + QStringLiteral("/bez_rejestru"));
    QTest::newRow("missing folder")
        << QStringList{t + QStringLiteral("/nie_ma")} << QStringLiteral("Folder danych");
    QTest::newRow("no rejestr/") << QStringList{t + QStringLiteral("/bez_rejestru")}
                                 << QStringLiteral("nie ma podfolderu rejestr/");
    QTest::newRow("bad date") << QStringList{dir_, QStringLiteral("--from"),
                                             QStringLiteral("2026-13-01")}
                              << QStringLiteral("nie jest datą w postaci RRRR-MM-DD");
    QTest::newRow("end before start")
        << QStringList{dir_, QStringLiteral("--from"), QStringLiteral("2026-03-31"),
                       QStringLiteral("--to"), QStringLiteral("2026-03-01")}
        << QStringLiteral("przypada po jego końcu");
    QTest::newRow("missing backup")
        << QStringList{dir_, QStringLiteral("--backup"), t + QStringLiteral("/brak.ini")}
        << QStringLiteral("nie istnieje");
    QTest::newRow("backup without a section")
        << QStringList{dir_, QStringLiteral("--backup"), notIni.fileName()}
        << QStringLiteral("nie zawiera sekcji [Konfiguracja] ani [Dostosuj]");
    QTest::newRow("backup value not a number")
        << QStringList{dir_, QStringLiteral("--backup"), badValue.fileName()}
        << QStringLiteral("N1_U_Min („dwieście”) nie jest liczbą");
    QTest::newRow("unknown option")
        << QStringList{dir_, QStringLiteral("--od")} << QStringLiteral("nieznana opcja --od");
}

void TestReport::badInputRefused() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    // An older report of that name stays as it was.
    const QString pdf = QDir(tmp_.path()).filePath(QStringLiteral("stary.pdf"));
    QFile old(pdf);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("stary raport");
    old.close();
    args.insert(1, pdf);
    const Run r = tool(QStringList{QStringLiteral("report")} + args);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("stary raport"));
}

void TestReport::dialogSavesAndPrints() {
    QStringList errors;
    TRaportDialog d(
        dir_, [&errors](const QString& m) { errors << m; }, QDate(2026, 3, 31));
    // Every control names its component and says in Polish what it is.
    const QList<QWidget*> controls = d.findChildren<QWidget*>();
    int named = 0;
    for (QWidget* w : controls)
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QDateEdit*>(w)) {
            if (w->objectName().startsWith(u"qt_"))
                continue; // the date box's own parts
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            QCOMPARE(w->accessibleDescription(), w->objectName());
            ++named;
        }
    QCOMPARE(named, 12);
    QCOMPARE(d.DataDo->date(), QDate(2026, 3, 31));

    d.DataOd->setDate(QDate(2026, 3, 27));
    d.SekcjaWykresy->setChecked(false);
    const QString pdf = QDir(tmp_.path()).filePath(QStringLiteral("okno.pdf"));
    d.PlikRaportu->setText(pdf);
    // The window's events go on while the report is made.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(0);
    QSignalSpy made(&d, &TRaportDialog::made);
    QVERIFY(d.savePdf());
    QVERIFY(d.busy());
    QVERIFY(made.wait(60000));
    QCOMPARE(made.takeFirst().at(0).toBool(), true);
    QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
    QVERIFY(errors.isEmpty());
    QVERIFY2(d.Stan->text().startsWith(QStringLiteral("Zapisano raport")),
             qPrintable(d.Stan->text()));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Zdarzeń w okresie 11")));
    QVERIFY(text.contains(QStringLiteral("Rejestr zdarzeń")));
    QVERIFY(!text.contains(QStringLiteral("Wykresy napięć")));

    // The period the wrong way round is named, and nothing is written.
    d.DataOd->setDate(QDate(2026, 4, 5));
    d.PlikRaportu->setText(QDir(tmp_.path()).filePath(QStringLiteral("okno2.pdf")));
    QVERIFY(!d.savePdf());
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors[0].contains(QStringLiteral("przypada po jego końcu")));
    QVERIFY(!QFile::exists(d.PlikRaportu->text()));

    // "Drukuj…" draws the same pages on the printer the print dialog set up.
    d.DataOd->setDate(QDate(2026, 3, 27));
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    const QString printed = QDir(tmp_.path()).filePath(QStringLiteral("wydruk.pdf"));
    printer->setOutputFileName(printed);
    QVERIFY(d.printTo(std::move(printer)));
    QVERIFY(made.wait(60000));
    QCOMPARE(made.takeFirst().at(0).toBool(), true);
    QCOMPARE(pdfPages(printed), pdfPages(pdf));
    QVERIFY(pdfText(printed).contains(QStringLiteral("Zdarzeń w okresie 11")));
}

void TestReport::stoppedOrFailedLeavesNoFile_data() {
    QTest::addColumn<QString>("folder"); // the data folder, "" for the test's own
    QTest::addColumn<QString>("file");   // the PDF, under the test's temporary folder
    QTest::addColumn<bool>("stop");      // "Anuluj" at once
    QTest::addColumn<QString>("state");  // what the status line says
    QTest::newRow("stopped while the folder is read")
        << QString() << QStringLiteral("stary.pdf") << true
        << QStringLiteral("Raport przerwano; pliku nie zapisano.");
    QTest::newRow("no folder for the file") << QString() << QStringLiteral("nie_ma/raport.pdf")
                                            << false << QStringLiteral("Nie można utworzyć pliku");
    QTest::newRow("not a data folder") << QStringLiteral("pusty") << QStringLiteral("stary.pdf")
                                       << false << QStringLiteral("nie ma podfolderu rejestr/");
}

void TestReport::stoppedOrFailedLeavesNoFile() {
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(bool, stop);
    QFETCH(QString, state);
    QTemporaryDir out;
    QString dataDir = dir_;
    if (!folder.isEmpty())
        QVERIFY(QDir().mkpath(dataDir = out.filePath(folder)));
    const QString pdf = out.filePath(file);
    QFile old(pdf);
    if (old.open(QIODevice::WriteOnly))
        old.write("stary raport");
    old.close();
    const QStringList before = QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden);

    QStringList errors;
    TRaportDialog d(
        dataDir, [&errors](const QString& m) { errors << m; }, QDate(2026, 3, 31));
    d.PlikRaportu->setText(pdf);
    QSignalSpy made(&d, &TRaportDialog::made);
    QVERIFY(d.savePdf());
    if (stop) {
        QVERIFY(d.progressDialog());
        Q_EMIT d.progressDialog()->canceled();
        QCOMPARE(made.size(), 1); // at once, not when the worker gets there
        QVERIFY(errors.isEmpty());
    } else {
        QVERIFY(made.wait(60000));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(state), qPrintable(errors[0]));
    }
    QCOMPARE(made.takeFirst().at(0).toBool(), false);
    QVERIFY2(d.Stan->text().contains(state), qPrintable(d.Stan->text()));
    QVERIFY(!d.busy());
    QVERIFY(d.ZapiszPDF->isEnabled());
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    if (QFile::exists(pdf)) {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("stary raport"));
    }
}

void TestReport::fileDroppedHalfwayIsNotWritten() {
    // Stopped with pages drawn into the temporary file: neither it nor a
    // report under the name stays, and the older file is as it was.
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("raport.pdf"));
    QFile old(pdf);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("stary raport");
    old.close();
    TReportRequest rq;
    rq.dataDir = dir_;
    rq.from = QDate(2026, 3, 27);
    rq.to = QDate(2026, 3, 31);
    const TReportData data = gatherReport(rq);
    const TReportDocument doc = reportDocument(data);
    {
        TReportPdfFile file(doc, data.index.get(), pdf);
        while (file.painter().fraction() < 0.5)
            QVERIFY(file.painter().step());
        QCOMPARE(QFileInfo(pdf).size(), qint64(12)); // the old one still
    }
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("raport.pdf")});
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("stary raport"));
}

void TestReport::windowStaysLiveDuringAYear() {
    // A measurement on a large folder: QTA_REPORT_DIR=DIR names one (e.g. a
    // year made with `qta504-tables generate`). Prints how long the report
    // takes made in one go (as on the window's thread before) and through the
    // dialog, with the longest pause of a 50-ms timer meanwhile.
    const QString dir = qEnvironmentVariable("QTA_REPORT_DIR");
    if (dir.isEmpty())
        QSKIP("QTA_REPORT_DIR not set");
    QTemporaryDir out;
    TReportRequest rq;
    rq.dataDir = dir;
    QElapsedTimer clock;
    clock.start();
    const TReportFile whole = makeReportPdf(rq, out.filePath(QStringLiteral("naraz.pdf")));
    qInfo("in one go: %lld ms, %d pages, %s", qint64(clock.elapsed()), whole.pages,
          qPrintable(periodText(whole.from, whole.to)));

    TRaportDialog d(dir, {}, whole.to);
    d.DataOd->setDate(whole.from);
    d.DataDo->setDate(whole.to);
    d.PlikRaportu->setText(out.filePath(QStringLiteral("okno.pdf")));
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    QSignalSpy made(&d, &TRaportDialog::made);
    clock.restart();
    gap.start();
    tick.start(50);
    QVERIFY(d.savePdf());
    QVERIFY(made.wait(600000));
    longest = std::max(longest, gap.elapsed());
    qInfo("through the dialog: %lld ms, longest pause of a 50-ms timer %lld ms; %s",
          qint64(clock.elapsed()), longest, qPrintable(d.Stan->text()));
    QVERIFY(made.takeFirst().at(0).toBool());
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
