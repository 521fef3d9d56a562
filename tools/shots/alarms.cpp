// Screenshots of the alarms: the window "Alarmy" with a realistic mix, the
// main window's status bar with the count, and the settings dialog.
#include "alarms/alarmengine.h"
#include "alarms/alarmsettingsdialog.h"
#include "alarms/alarmwindow.h"
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "core/workfolder.h"
#include "link/comport.h"
#include "link/model.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {
bool saveShot(QWidget* w, const QString& path) {
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A night at a plant room: the breaker tripped and recovered, the line went
// quiet for a while, N3 went bad (shelved), the load moved to N2, and an
// unknown fault bit is still set.
void night(qta::TAlarmEngine& e, QDateTime& now) {
    using namespace qta;
    const std::array<int, 3> good{3, 3, 3};
    e.status(0, ProgN1N2N3, ActiveN1, good);
    now = now.addSecs(40);
    e.status(0x80, ProgN1N2N3, ActiveN1, good);
    now = now.addSecs(65);
    e.status(0, ProgN1N2N3, ActiveN1, good);
    now = now.addSecs(600);
    e.linkLost();
    now = now.addSecs(30);
    e.acknowledge(QStringLiteral("polaczenie"), QStringLiteral("Przewód RS-485 poprawiony"));
    now = now.addSecs(200);
    e.linkUp();
    now = now.addSecs(10);
    e.linkLost(); // again, and still
    now = now.addSecs(1200);
    e.linkUp();
    e.status(0, ProgN1N2N3, ActiveN1, {3, 3, 0});
    e.shelve(QStringLiteral("linia3"));
    now = now.addSecs(300);
    e.status(0x10, ProgN1N2N3, ActiveN2, {0, 3, 0});
    e.tick();
}
} // namespace

bool shootAlarms(const QString& outDir) {
    using namespace qta;
    bool ok = true;
    QDateTime now(QDate(2026, 12, 10), QTime(2, 13, 5));
    {
        TAlarmEngine engine;
        engine.setClock([&now] { return now; });
        TAlarmSettings s;
        s.flickerSeconds = 0;
        engine.setSettings(s);
        night(engine, now);
        TAlarmWindow w(engine);
        w.resize(w.sizeHint());
        w.show();
        ok &= saveShot(&w, outDir + QStringLiteral("/alarmy_1_okno.png"));
        w.remark()->setText(QStringLiteral("zasilanie → N2"));
        w.list()->selectRow(0);
        w.acknowledgeButton()->click();
        ok &= saveShot(&w, outDir + QStringLiteral("/alarmy_2_odmowa_uwagi.png"));
    }
    {
        // The main window over an empty folder: the status bar with the count.
        QTemporaryDir dir;
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            TQTA504 main;
            main.core.Timer2.stop();
            main.core.Alarmy.setClock([&now] { return now; });
            main.setStatusPanel(0, QStringLiteral("Połączono z QTA504 - v. QTA1v2"));
            main.setStatusPanel(2, QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa"));
            main.resize(1100, 260);
            main.show();
            night(main.core.Alarmy, now);
            ok &= saveShot(&main, outDir + QStringLiteral("/alarmy_3_pasek_stanu.png"));
        }
        QDir::setCurrent(old);
    }
    {
        // A folder the collector holds, opened by the desktop program: the
        // items that write are disabled and the status bar says why.
        QTemporaryDir dir;
        prepareWorkFolder(dir.path());
        TQTA504 main;
        main.core.setDataFolder(dir.path());
        wireWindows(main);
        main.resize(1100, 260);
        main.show();
        main.FormCreateReadOnly(
            QStringLiteral("Tylko do odczytu: folder obsługuje kolektor qta504d (PID 4242)"));
        ok &= saveShot(&main, outDir + QStringLiteral("/tylko_do_odczytu.png"));
        main.resize(1, 260); // the narrowest the window allows
        ok &= saveShot(&main, outDir + QStringLiteral("/tylko_do_odczytu_najwezsze.png"));
    }
    {
        // Publishing over MQTT switched on, the broker not there: the status
        // bar's indicator says why.
        QTemporaryDir dir;
        prepareWorkFolder(dir.path());
        QFile ini(dir.filePath(QStringLiteral("rejestr/ustawienia.ini")));
        if (ini.open(QIODevice::Append))
            ini.write("[mqtt]\nHost=127.0.0.1\nPort=1\nNazwa=Rozdzielnia 1\n");
        ini.close();
        TComPort::setPortListProvider([] { return QStringList{}; });
        TQTA504 main;
        main.core.setDataFolder(dir.path());
        wireWindows(main);
        main.resize(1100, 260);
        main.show();
        main.FormCreate();
        QElapsedTimer waited;
        waited.start();
        while (main.publishing() &&
               main.publishing()->label()->text() == QStringLiteral("MQTT: łączę") &&
               waited.elapsed() < 5000)
            QTest::qWait(50); // until the first attempt has failed
        if (main.startWindow())
            main.startWindow()->close();
        ok &= saveShot(&main, outDir + QStringLiteral("/mqtt_pasek_stanu.png"));
        main.close();
        TComPort::setPortListProvider(nullptr);
    }
    {
        TAlarmSettings s;
        s.enabled[AlarmKind::Generator] = false;
        s.flickerSeconds = 10;
        TAlarmSettingsDialog d(s);
        d.show();
        ok &= saveShot(&d, outDir + QStringLiteral("/alarmy_4_ustawienia.png"));
    }
    return ok;
}
