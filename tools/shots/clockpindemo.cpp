// Screenshots of the clock window, the PIN editor and the demonstration panel.
#include "core/controller.h"
#include "editors/demoform.h"
#include "editors/markerpair.h"
#include "editors/zabezpieczenia.h"
#include "editors/zegar.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cstdio>

namespace {
bool shot(QWidget* w, const QString& path) {
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}
} // namespace

bool shootClockPinDemo(qta::TQTA504Core& core, const QString& outDir) {
    bool ok = true;
    core.Flaga_Kom.OK = false; // nothing is sent from here
    {
        qta::TZegar z(core);
        z.Timer.stop();
        z.clock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
        z.TimerTimer();
        z.show();
        ok &= shot(&z, outDir + QStringLiteral("/zegar.png"));
    }
    core.Konfig.PIN_Numer = 42;
    core.Konfig.PIN_On = true;
    {
        qta::TZabezpieczenia z(core);
        z.show();
        ok &= shot(&z, outDir + QStringLiteral("/zabezpieczenia_1_opened.png"));
        z.ZmianaPIN->click();
        QTest::keyClicks(z.StaryPIN_Edit, QStringLiteral("0042"));
        ok &= shot(&z, outDir + QStringLiteral("/zabezpieczenia_2_old_right.png"));
        QTest::keyClicks(z.NowyPIN_Edit, QStringLiteral("1234"));
        QTest::keyClicks(z.PowtorzPIN_Edit, QStringLiteral("1235"));
        ok &= shot(&z, outDir + QStringLiteral("/zabezpieczenia_3_repeat_differs.png"));
        QTest::keyClick(z.PowtorzPIN_Edit, Qt::Key_Backspace);
        QTest::keyClicks(z.PowtorzPIN_Edit, QStringLiteral("4"));
        ok &= shot(&z, outDir + QStringLiteral("/zabezpieczenia_4_confirmed.png"));
    }
    {
        qta::TDemoForm d(core);
        d.show();
        ok &= shot(&d, outDir + QStringLiteral("/demo_1_opened.png"));
        d.setRandom([n = 0](int range) mutable { return range > 0 ? (n++ * 7) % range : 0; });
        d.Szum[1]->setValue(35);
        d.Trend[2]->setValue(90);
        d.Czas->setValue(5);
        d.DemoAktywne->setChecked(true);
        for (int i = 0; i < 3; ++i)
            d.TimerTimer();
        d.Edit[4]->setText(QStringLiteral("2x0"));
        ok &= shot(&d, outDir + QStringLiteral("/demo_2_running.png"));
    }
    return ok;
}
