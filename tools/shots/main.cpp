// qta504-shots: renders every mimic window in a few typical states, the About
// box picture and the start window, into PNG files for review.
//   qta504-shots [OUTPUT_DIR]      (default: screenshots)
// Runs on any Qt platform; scripts/screenshots uses the offscreen one.
#include "app/startwindow.h"
#include "link/controller.h"
#include "mimic/artwork.h"
#include "mimic/mimicwindow.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

// The windows never call back into the main window here.
class TNoView : public qta::TMainView {
public:
    void setStatusPanel(int, const QString&) override {}
    QString statusPanel(int) const override { return {}; }
    void setConnectCaption(const QString&) override {}
    bool mimicWindowOpen() const override { return false; }
    void closeMimicWindow() override {}
    void showMain() override {}
    void enableSettingsItems() override {}
    void showStartWindow() override {}
    void reportError(const QString&) override {}
};

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString outDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outDir);
    TNoView view;
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
    }
    return ok ? 0 : 1;
}
