// Screenshots of the report: its pages for a month of a plant's history
// (PDF rendered by pdftoppm) and the report dialog.
#include "alarms/alarmjournal.h"
#include "history/linegen.h"
#include "report/reportdialog.h"
#include "report/reportpdf.h"
#include "settings/controllerfile.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

bool saveDialog(QWidget* w, const QString& path) {
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

struct E {
    const char* date;
    const char* time;
    const char* text;
    const char* remark;
    int states; // N1, N2, N3 as 0..3 in base 4, N1 highest
};

// A month at a hospital's switchboard: commissioning, two outages of the
// mains, a generator test, a blown fuse and settings changed on site.
const E kEvents[] = {
    {"2026-02-26", "07:58", "Start systemu", "uruchomienie po montażu rozdzielnicy RG-2", 0},
    {"2026-02-26", "07:58", "Linia N1 została zakwalifikowana jako dobra", "", 0x30},
    {"2026-02-26", "07:59", "Załączenie linii N1", "", 0x3F},
    {"2026-02-26", "08:12", "Zmiana napięcia Umin dla linii N1. Nowa wartość: 195V",
     "próg dobrany do długiego kabla zasilającego", 0x3F},
    {"2026-02-26", "08:20", "Zmiana czasu T_On. Nowa wartość: 2,5s", "", 0x3F},
    {"2026-03-02", "14:31", "Linia pierwsza została zakwalifikowana jako zła", "", 0x2F},
    {"2026-03-02", "14:31", "Wyłączenie linii N1", "", 0x0F},
    {"2026-03-02", "14:31", "Załączenie linii N2", "zanik w sieci miejskiej; zgłoszenie nr 4471",
     0x0F},
    {"2026-03-02", "14:47", "Linia N1 została zakwalifikowana jako dobra", "", 0x1F},
    {"2026-03-02", "14:48", "Wyłączenie linii N2", "", 0x3F},
    {"2026-03-02", "14:48", "Załączenie linii N1", "", 0x3F},
    {"2026-03-09", "10:05", "Wyłączenie linii N1", "próba generatora z obciążeniem", 0x3F},
    {"2026-03-09", "10:05", "Uruchomienie generatora", "", 0x3F},
    {"2026-03-09", "10:26", "Zatrzymanie generatora", "", 0x3F},
    {"2026-03-09", "10:26", "Załączenie linii N1", "", 0x3F},
    {"2026-03-14", "03:17", "Brak dobrych linii zasilających", "", 0x00},
    {"2026-03-14", "03:19", "Zadziałanie wyłacznika bezpieczeństwa",
     "wymiana bezpiecznika F2; przyczyna: zwarcie w obwodzie oświetlenia awaryjnego", 0x00},
    {"2026-03-14", "06:40", "Start systemu", "", 0x00},
    {"2026-03-14", "06:41", "Linia N1 została zakwalifikowana jako dobra", "", 0x10},
    {"2026-03-14", "06:42", "Załączenie linii N1", "", 0x3F},
    {"2026-03-20", "12:00", "Zmiana programu. Poprzedni program: N1+N2+N3, nowy program: N1+N2,",
     "sekcja N3 wyłączona z eksploatacji", 0x3F},
    {"2026-03-21", "09:30", "Linia druga została zakwalifikowana jako zła", "", 0x3B},
    {"2026-03-21", "09:44", "Linia N2 została zakwalifikowana jako dobra", "", 0x3F},
};

QString state(int bits) {
    switch (bits & 3) {
    case 0: return QStringLiteral("Linia zła");
    case 1: return QStringLiteral("Linia kwalifikowana jako dobra");
    case 2: return QStringLiteral("Linia kwalifikowana jako zła");
    default: return QStringLiteral("Linia Dobra");
    }
}

bool makeFolder(const QString& dir) {
    QDir().mkpath(dir + QStringLiteral("/rejestr"));
    const QString r = dir + QStringLiteral("/rejestr/");
    qta::TTable::createRejestr(r + QStringLiteral("rejestr.dbf"));
    qta::TTable::createAlarmy(r + QStringLiteral("alarmy.dbf"));
    qta::generateLinia(r + QStringLiteral("linia.dbf"),
                       {24LL * 86400, QDateTime(QDate(2026, 3, 21), QTime(18, 0)), 8});
    qta::TTable t(r + QStringLiteral("rejestr.dbf"));
    t.Open();
    int i = 310;
    for (const E& e : kEvents) {
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(i++);
        t.FieldByName(QStringLiteral("DATA")).setAsString(QString::fromLatin1(e.date) + u' ');
        t.FieldByName(QStringLiteral("CZAS")).setAsString(QString::fromLatin1(e.time));
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QString::fromUtf8(e.text));
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(QString::fromUtf8(e.remark));
        for (int n = 0; n < 3; ++n)
            t.FieldByName(QStringLiteral("N%1_STATUS").arg(n + 1))
                .setAsString(state(e.states >> (4 - 2 * n)));
        t.Post();
    }
    qta::TKonf k;
    for (int n = 1; n <= 3; ++n)
        k.Linia[size_t(n)] = {false, n == 2, 195, 253, 8};
    k.Kwal_ON = 5;
    k.Kwal_OFF = 2;
    k.Przelaczanie = 10;
    k.Uzbrajanie = 2.5;
    k.Rozbrajanie = 1.0;
    k.Przerwa = 0.5;
    k.Progr = 3;
    k.Linia_Glowna = 1;
    k.Kontrola_On = k.Podsw_On = k.Rejestr_On = k.Buczek_On = true;
    k.Kontrola_Opozn = 10;
    k.Buczek_Czas = 5;
    k.Podsw_Czas = 30;
    k.Podsw_Jasnosc = 80;
    qta::writeControllerFile(r + qta::kControllerFileName, k, QStringLiteral("QTA1v2"),
                             QDateTime(QDate(2026, 3, 21), QTime(9, 50)));
    qta::TAlarmJournal j(r + QStringLiteral("alarmy.dbf"));
    j.open();
    const QString breaker = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
    j.append({QDateTime(QDate(2026, 3, 14), QTime(3, 19, 4)), breaker, QStringLiteral("wysoki"),
              QStringLiteral("Wystąpił"), QString(), QString()});
    j.append({QDateTime(QDate(2026, 3, 14), QTime(3, 52, 40)), breaker, QStringLiteral("wysoki"),
              QStringLiteral("Potwierdzony"), QStringLiteral("dyzurny"),
              QStringLiteral("Elektryk w drodze; obiekt na zasilaniu z UPS")});
    j.append({QDateTime(QDate(2026, 3, 14), QTime(6, 40, 12)), breaker, QStringLiteral("wysoki"),
              QStringLiteral("Ustąpił"), QString(), QString()});
    j.append({QDateTime(QDate(2026, 3, 21), QTime(9, 30, 2)), QStringLiteral("Linia zła: N2"),
              QStringLiteral("średni"), QStringLiteral("Wystąpił"), QString(), QString()});
    j.close();
    return true;
}

} // namespace

bool shootReport(const QString& outDir) {
    QTemporaryDir dir;
    bool ok = dir.isValid();
    try {
        ok = ok && makeFolder(dir.path());
        qta::TReportRequest rq;
        rq.dataDir = dir.path();
        rq.from = QDate(2026, 2, 26);
        rq.to = QDate(2026, 3, 21);
        rq.user = QStringLiteral("serwis");
        rq.made = QDateTime(QDate(2026, 3, 21), QTime(10, 5));
        const QString pdf = QDir(outDir).filePath(QStringLiteral("raport.pdf"));
        const qta::TReportFile r = qta::makeReportPdf(rq, pdf);
        std::printf("wrote %s (%d pages)\n", qPrintable(pdf), r.pages);
        // The pages as pictures, for a look.
        const int code =
            QProcess::execute(QStringLiteral("pdftoppm"),
                              {QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-png"),
                               pdf, QDir(outDir).filePath(QStringLiteral("raport_strona"))});
        std::printf("%s pages of %s as PNG\n", code == 0 ? "wrote" : "FAILED (pdftoppm)",
                    qPrintable(pdf));
        ok &= code == 0;
    } catch (const std::exception& e) {
        std::printf("FAILED report: %s\n", e.what());
        ok = false;
    }
    qta::TRaportDialog d(dir.path(), {}, QDate(2026, 3, 21));
    d.PlikRaportu->setText(QStringLiteral("/home/serwis/raport_szpital_RG-2.pdf"));
    d.show();
    ok &= saveDialog(&d, QDir(outDir).filePath(QStringLiteral("raport_dialog.png")));
    return ok;
}
