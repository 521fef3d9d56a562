// qta504-shots: renders every mimic window in a few typical states, the About
// box picture and the start window, into PNG files for review.
//   qta504-shots [OUTPUT_DIR]      (default: screenshots)
// Runs on any Qt platform; scripts/screenshots uses the offscreen one.
#include "app/startwindow.h"
#include "artwork/artwork.h"
#include "core/controller.h"
#include "editors/dostosujwindow.h"
#include "editors/konfigwindow.h"
#include "history/chartwindow.h"
#include "history/eksportdialog.h"
#include "history/linegen.h"
#include "history/linehistory.h"
#include "history/rejestrmodel.h"
#include "history/rejestrwindow.h"
#include "mimic/mimicwindow.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr std::array<int, 8> kPrograms{1, 2, 3, 4, 5, 10, 11, 12};

// A lively controller state at chart second `t`: voltages drifting around
// their means, one phase low, one high, all four qualification states.
void liveState(qta::TQTA504Core& c, int program, int t) {
    c.UART_Connect = true;
    c.Aktywny_Program = program;
    for (int n = 1; n <= 3; ++n) {
        c.Konfig.Linia[size_t(n)].Umin = 200;
        c.Konfig.Linia[size_t(n)].Umax = 250;
    }
    const std::array<std::array<int, 3>, 3> mean{
        {{230, 226, 233}, {236, 190, 241}, {229, 262, 60}}};
    for (int n = 1; n <= 3; ++n) {
        qta::TLinia1& l = c.linia(n);
        for (int k = 1; k <= 3; ++k) {
            const double wobble = 6 * std::sin(t / 23.0 + n * 1.7 + k * 2.1);
            l.U[size_t(k)] = mean[size_t(n - 1)][size_t(k - 1)] + int(std::lround(wobble));
            l.Error_Min[size_t(k)] = l.U[size_t(k)] < 200 ? -1 : 0;
            l.Error_Max[size_t(k)] = l.U[size_t(k)] > 250 ? -1 : 0;
        }
    }
    // Status: line 1 good, line 2 being qualified good, line 3 being qualified bad;
    // the two-line windows show line 3 as bad so that every badge appears somewhere.
    c.Linia_1.Status = 3;
    c.Linia_2.Status = 1;
    c.Linia_3.Status = (program == 4 || program == 5) ? 0 : 2;
    static const std::array<std::pair<int, int>, 8> active{
        {{1, 2}, {2, 3}, {3, 1}, {4, 3}, {5, 5}, {10, 1}, {11, 2}, {12, 3}}};
    for (auto [p, a] : active)
        if (p == program)
            c.Aktywna_Linia = a;
}

void resetState(qta::TQTA504Core& c) {
    c.Konfig = {};
    c.Linia_1 = c.Linia_2 = c.Linia_3 = {};
    c.Aktywna_Linia = 0;
    c.UART_Connect = false;
}

bool save(QWidget* w, const QString& path) {
    QCoreApplication::processEvents(); // queued chart replots
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A working directory whose event log reads like a few weeks of a real
// installation: switching after dips, qualification, settings changed, a
// few remarks.
bool writeRealisticLog(const QString& dir) {
    if (!QDir().mkpath(dir + QStringLiteral("/rejestr")))
        return false;
    const QString file = dir + QStringLiteral("/rejestr/rejestr.dbf");
    qta::TTable::createRejestr(file);
    qta::TTable::createLinia(dir + QStringLiteral("/rejestr/linia.dbf"));
    struct E {
        const char* data;
        const char* czas;
        const char* zdarzenie;
        const char* uwagi;
    };
    static const E events[] = {
        {"2024-02-26", "07:58", "Start systemu", "uruchomienie po montażu"},
        {"2024-02-26", "07:58", "Linia N1 została zakwalifikowana jako dobra", ""},
        {"2024-02-26", "07:59", "Załączenie linii N1", ""},
        {"2024-02-26", "08:12", "Zmiana napięcia Umin dla linii N1. Nowa wartość: 195", ""},
        {"2024-03-02", "14:31", "Linia pierwsza została zakwalifikowana jako zła", ""},
        {"2024-03-02", "14:31", "Wyłączenie linii N1", ""},
        {"2024-03-02", "14:31", "Załączenie linii N2", "zanik w sieci miejskiej"},
        {"2024-03-02", "14:47", "Linia N1 została zakwalifikowana jako dobra", ""},
        {"2024-03-02", "14:48", "Wyłączenie linii N2", ""},
        {"2024-03-02", "14:48", "Załączenie linii N1", ""},
        {"2024-03-09", "10:05", "Wyłączenie linii N1", "próba generatora"},
        {"2024-03-09", "10:05", "Załączenie linii G", "próba generatora, 20 min"},
        {"2024-03-09", "10:26", "Załączenie linii N1", ""},
        {"2024-03-14", "03:17", "Brak dobrych linii zasilających", ""},
        {"2024-03-14", "03:19", "Zadziałanie wyłacznika bezpieczeństwa", "wymiana bezpiecznika F2"},
        {"2024-03-14", "06:40", "Start systemu", ""},
        {"2024-03-14", "06:41", "Załączenie linii N1", ""},
        {"2024-03-20", "12:00", "Zmiana programu. Poprzedni: N1 + N2 + N3, obecny: N1 + N2 + G",
         ""},
        {"2024-03-21", "09:30", "Linia druga została zakwalifikowana jako zła", ""},
        {"2024-03-21", "09:44", "Linia N2 została zakwalifikowana jako dobra", ""},
    };
    qta::TTable t(file);
    t.Open();
    int i = 0;
    for (const E& e : events) {
        t.Append();
        t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(i++);
        t.FieldByName(QStringLiteral("DATA")).setAsString(QString::fromUtf8(e.data) + u' ');
        t.FieldByName(QStringLiteral("CZAS")).setAsString(QString::fromUtf8(e.czas));
        t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QString::fromUtf8(e.zdarzenie));
        t.FieldByName(QStringLiteral("UWAGI")).setAsString(QString::fromUtf8(e.uwagi));
        t.Post();
    }
    return true;
}

// Both settings editors, every tab, with the configuration the simulator starts with.
bool settingsShots(qta::TQTA504Core& core, const QString& outDir) {
    resetState(core);
    qta::TKonf& k = core.Konfig;
    for (int n = 1; n <= 3; ++n)
        k.Linia[size_t(n)] = {false, n == 2, 195, 253, 8};
    k.Kwal_ON = 5;
    k.Kwal_OFF = 2;
    k.Przelaczanie = 10;
    k.Uzbrajanie = 2.5;
    k.Rozbrajanie = 1.0;
    k.Przerwa = 0.5;
    k.Progr = 2;
    k.Linia_Glowna = 1;
    k.Kontrola_On = k.Podsw_On = k.Rejestr_On = true;
    k.Kontrola_Opozn = 10;
    k.Buczek_Czas = 5;
    k.Podsw_Czas = 30;
    k.Podsw_Jasnosc = 80;
    bool ok = true;
    {
        qta::TKonfig_1 w(core);
        w.show();
        const char* tabs[4] = {"napiecia", "czasy", "aparaty", "tryb"};
        for (int t = 0; t < 4; ++t) {
            w.PageControl1->setCurrentIndex(t);
            ok &= save(&w, QStringLiteral("%1/konfiguracja_%2_%3.png")
                               .arg(outDir)
                               .arg(t + 1)
                               .arg(QLatin1String(tabs[t])));
        }
        // As after reading a backup that differs from the controller in two values.
        w.PageControl1->setCurrentIndex(0);
        w.Konfig_Kopia.Linia[1].Umin = 210;
        w.Konfig_Kopia.Linia[3].Histereza = 12;
        w.showCopy(false);
        w.markDifferences();
        ok &= save(&w, QStringLiteral("%1/konfiguracja_1_napiecia_po_wczytaniu.png").arg(outDir));
        w.TypAparatu->setCurrentIndex(1);
        w.TypAparatuChange(1);
        w.PageControl1->setCurrentIndex(2);
        ok &= save(&w, QStringLiteral("%1/konfiguracja_3_aparaty_rozlaczniki.png").arg(outDir));
        w.PageControl1->setCurrentIndex(3);
        for (int item = 1; item < 9; ++item) {
            w.WyborTrybu->setCurrentIndex(item);
            w.WyborTrybuChange(item);
            ok &= save(&w, QStringLiteral("%1/konfiguracja_4_tryb_%2.png")
                               .arg(outDir)
                               .arg(qta::kProgramItems[item]));
        }
    }
    {
        qta::TDostosuj w(core);
        w.show();
        ok &= save(&w, QStringLiteral("%1/dostosuj.png").arg(outDir));
    }
    return ok;
}

// The three chart windows over a generated month of history, at scales 2 and 6.
bool chartShots(const QString& outDir) {
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    const QDateTime end(QDate(2026, 3, 15), QTime(14, 30, 0));
    qta::generateLinia(file, {30LL * 86400, end, 4});
    qta::TTable table(file);
    table.Open();
    qta::TLineHistory history([&table] { return &table; }, nullptr, 1LL << 40);
    const qta::TWallMs now = QDateTime(end.date(), end.time(), Qt::UTC).toMSecsSinceEpoch();
    bool ok = true;
    for (int line = 1; line <= 3; ++line) {
        qta::TWykres w(
            qta::chartLine(line), history,
            [](const QString& m) { std::printf("%s\n", qPrintable(m)); }, [now] { return now; });
        w.Timer.stop();
        w.RefreshTimer.stop();
        w.show();
        QCoreApplication::processEvents();
        w.reload(false);
        ok &= save(&w, QStringLiteral("%1/chart_n%2_scale2.png").arg(outDir).arg(line));
        for (int i = 0; i < 4; ++i)
            w.ZwiekszSkaleClick();
        ok &= save(&w, QStringLiteral("%1/chart_n%2_scale6.png").arg(outDir).arg(line));
    }
    return ok;
}

} // namespace

bool shootClockPinDemo(qta::TQTA504Core& core, const QString& outDir);
bool shootAlarms(const QString& outDir);
bool shootReport(const QString& outDir);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Absolute from the start: some shots work in a folder of their own
    // (QDir::setCurrent), and a relative name would then point there.
    const QString outDir =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"))
            .absolutePath();
    QDir().mkpath(outDir);
    qta::TNullView view;
    qta::TQTA504Core core(&view);
    core.Timer2.stop();
    core.Timer3.stop();
    bool ok = true;

    for (int program : kPrograms) {
        const QString base = QStringLiteral("%1/prog%2_").arg(outDir).arg(program);

        // Before any reply: every value zero, link not yet up.
        resetState(core);
        core.Aktywny_Program = program;
        std::unique_ptr<qta::TMimicWindow> w(
            static_cast<qta::TMimicWindow*>(qta::createMimicWindow(program, core, {})));
        w->Timer.stop();
        w->show();
        w->TimerTimer();
        ok &= save(w.get(), base + QStringLiteral("1_before_reply.png"));

        // Live: two and a half minutes of chart, then the current state.
        for (int i = 0; i < 4 * 150; ++i) {
            liveState(core, program, w->Czas);
            w->TimerTimer();
        }
        ok &= save(w.get(), base + QStringLiteral("2_live.png"));

        if (program == 1) {
            core.UART_Connect = false;
            for (int i = 0; i < 11; ++i)
                w->TimerTimer();
            ok &= save(w.get(), base + QStringLiteral("3_link_lost.png"));
        }
    }

    // The event-log window: as it opens, at a larger size, with a refused
    // remark, and its export dialog.
    {
        QTemporaryDir logDir;
        const QString old = QDir::currentPath();
        const QString& out = outDir;
        if (logDir.isValid() && writeRealisticLog(logDir.path())) {
            QDir::setCurrent(logDir.path());
            qta::TNullView logView;
            qta::TQTA504Core logCore(&logView);
            logCore.Timer2.stop();
            logCore.Timer3.stop();
            logCore.openTables();
            {
                qta::TRejestrForm form(logCore);
                form.show();
                QCoreApplication::processEvents();
                ok &= save(&form, out + QStringLiteral("/rejestr_1_open.png"));
                form.resize(900, 420);
                form.DBGrid1()->scrollToBottom();
                ok &= save(&form, out + QStringLiteral("/rejestr_2_wide.png"));
                form.DBGrid1()->setCurrentIndex(form.model()->index(17, 3));
                form.model()->setData(form.model()->index(17, 3),
                                      QStringLiteral("zmiana programu → z generatorem"));
                QCoreApplication::processEvents();
                ok &= save(&form, out + QStringLiteral("/rejestr_3_refused.png"));
                qta::TEksportDialog dialog(*logCore.Rejestr(),
                                           QStringLiteral("/home/serwis/rejestr.csv"));
                dialog.show();
                ok &= save(&dialog, out + QStringLiteral("/rejestr_4_export.png"));
            }
            logCore.closeAll();
            QDir::setCurrent(old);
        } else {
            std::printf("FAILED event log for the event-log window\n");
            ok = false;
        }
    }
    ok &= shootClockPinDemo(core, outDir);
    ok &= settingsShots(core, outDir);
    ok &= shootAlarms(outDir);
    ok &= chartShots(outDir);
    ok &= shootReport(outDir);

    // The About box picture, at its size and enlarged for a closer look.
    qta::initArtwork();
    QSvgRenderer about(QStringLiteral(":/artwork/front_panel.svg"));
    for (int scale : {1, 3}) {
        QImage img(about.defaultSize() * scale, QImage::Format_ARGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        about.render(&p);
        p.end();
        const QString path = scale == 1 ? QStringLiteral("%1/about_front_panel.png").arg(outDir)
                                        : QStringLiteral("%1/about_front_panel_x3.png").arg(outDir);
        const bool saved = img.save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok &= saved;
    }

    // The start window with the texts of a USB adapter: longer than the window.
    {
        qta::TStart start(core);
        start.show();
        start.setStatusText(QStringLiteral("Sprawdzam port ttyUSB0 (FT232R USB UART, nr seryjny "
                                           "A50285BI)..."));
        ok &= save(&start, outDir + QStringLiteral("/start_usb_port.png"));
        start.setStatusText(QStringLiteral("Brak uprawnień do portu ttyUSB0"));
        ok &= save(&start, outDir + QStringLiteral("/start_no_permission.png"));
        start.setStatusText(QStringLiteral("Serwer 192.168.10.21:2001 nie odpowiada na negocjację "
                                           "RFC 2217 (dla surowego strumienia bajtów podaj "
                                           "tcp://)"));
        ok &= save(&start, outDir + QStringLiteral("/start_network_failure.png"));
    }
    return ok ? 0 : 1;
}
