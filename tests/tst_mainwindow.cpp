// The main window in-process on the offscreen platform: its menu and status
// bar, the window items and their check marks, the window menu, the text
// viewer, the general error handling, and the start window, Timer1 and the
// link watchdog against the controller simulator on a pseudo-terminal.
#include "alarms/alarmengine.h"
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/startwindow.h"
#include "app/wiring.h"
#include "link/frame.h"
#include "mimic/mimicwindow.h"
#include "simprocess.h"
#include "tables/table.h"
#include "testbytes.h"

#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>

using namespace qta;

namespace {

const QString kConnected = QStringLiteral("Połączono z QTA504 - v. ");

// 230 V everywhere, no faults, line 1 active, all lines good.
QByteArray statusPayload(int program) {
    return statusBytes({230, 230, 230, 230, 230, 230, 230, 230, 230}, 0, 0, 0, (program << 4) | 1,
                       0x3F, 0);
}

// A line that opens but where nobody answers: a pseudo-terminal whose other
// end the test holds and never reads.
class SilentLine {
public:
    explicit SilentLine(const QString& link) : link_(link) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        QFile::remove(link);
        ok_ = QFile::link(QString::fromLocal8Bit(::ptsname(master_)), link);
    }
    ~SilentLine() {
        if (master_ >= 0)
            ::close(master_);
        QFile::remove(link_);
    }
    SilentLine(const SilentLine&) = delete;
    SilentLine& operator=(const SilentLine&) = delete;
    bool ok() const { return ok_; }

private:
    QString link_;
    int master_ = -1;
    bool ok_ = false;
};

// The texts of the start window, one entry per change, until it closes, the
// time is up or `until` is satisfied.
QStringList watchStartTexts(TQTA504& m, int timeoutMs,
                            const std::function<bool(const QStringList&)>& until = {}) {
    QPointer<TStart> s = m.startWindow();
    QStringList texts;
    QDeadlineTimer deadline(timeoutMs);
    while (s && !deadline.hasExpired()) {
        const QString t = s->statusText();
        if (texts.isEmpty() || texts.last() != t)
            texts << t;
        if (until && until(texts))
            break;
        QTest::qWait(5);
    }
    return texts;
}

// The waiting dots folded into the text they follow.
QStringList withoutDots(const QStringList& texts) {
    QStringList out;
    for (const QString& t : texts) {
        QString base = t;
        while (base.endsWith(u'.') && !out.isEmpty() && base != out.last())
            base.chop(1);
        if (out.isEmpty() || out.last() != base)
            out << t;
    }
    return out;
}

QStringList iniKeys(const QString& text) {
    QStringList keys;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        if (line.contains(u'='))
            keys << line.section(u'=', 0, 0).trimmed();
    return keys;
}

QString iniValue(const QString& text, const QString& key) {
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        if (line.section(u'=', 0, 0).trimmed() == key)
            return line.section(u'=', 1).trimmed();
    return {};
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldCwd_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TQTA504> main_;

    QString path(const QString& name) const { return dir_->filePath(name); }

    static void setPorts(const QStringList& ports) {
        TComPort::setPortListProvider([ports] { return ports; });
    }
    // The settings file with only the saved port in it.
    void writeSettings(const QString& port) {
        QFile f(path(QStringLiteral("rejestr/ustawienia.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[ComPort]\nPort=" + port.toUtf8() + "\n");
    }
    QString settingsText() const {
        QFile f(path(QStringLiteral("rejestr/ustawienia.ini")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool startSim(QStringList args = {}) {
        sim_ = std::make_unique<SimProcess>(
            path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
            args << QStringLiteral("--period") << QStringLiteral("500"));
        if (!sim_->ready())
            qWarning("simulator: %s", qPrintable(sim_->readyLine()));
        return sim_->ready();
    }

    // The main window as the program builds it, shown, then FormCreate.
    TQTA504& startMain() {
        main_ = std::make_unique<TQTA504>();
        wireWindows(*main_);
        main_->setGeometry(0, 0, 1280, 900);
        main_->show();
        QApplication::setActiveWindow(main_.get());
        main_->FormCreate();
        return *main_;
    }

    void deliver(const QByteArray& bytes) {
        main_->core.receiveBytes(bytes);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    QList<QMdiSubWindow*> children() const { return main_->mdiArea()->subWindowList(); }
    static int programOf(QMdiSubWindow* s) {
        auto* m = s ? qobject_cast<TMimicWindow*>(s->widget()) : nullptr;
        return m ? m->program() : -1;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QVERIFY(QDir().mkpath(QStringLiteral("rejestr")));
        TTable::createRejestr(QStringLiteral("rejestr/rejestr.dbf"));
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
        // Unless a test says otherwise: a saved port that does not exist and an
        // empty port list, so nothing ever opens a real serial port.
        writeSettings(path(QStringLiteral("brak/port")));
        setPorts({});
    }
    void cleanup() {
        if (main_)
            main_->close();
        main_.reset();
        flushDeletes();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
        flushDeletes();
        sim_.reset();
        QDir::setCurrent(oldCwd_);
        dir_.reset();
        setPorts({});
    }

    // ------------------------------------------------------------ menu and status bar

    void menuStructure() {
        TQTA504& m = startMain();
        // component|caption|state per entry, menus in order; "-" a separator.
        const auto describe = [](QMenu* menu) {
            QStringList out;
            for (QAction* a : menu->actions()) {
                if (a->isSeparator()) {
                    out << a->objectName() + QStringLiteral("|-");
                    continue;
                }
                QString s = a->objectName() + u'|' + a->text() + u'|' +
                            (a->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
                if (!a->isVisible())
                    s += QStringLiteral("|hidden");
                out << s;
            }
            return out;
        };
        QStringList bar;
        for (QAction* a : m.menuBar()->actions())
            bar << a->menu()->objectName() + u'|' + a->text();
        QCOMPARE(bar, (QStringList{"Polaczenie|&Połączenie", "Edit1|&Widok",
                                   "Ustawienia1|&Ustawienia", "Window1|&Okna", "Help1|Pomoc"}));
        const auto menu = [&m](const char* name) {
            return m.menuBar()->findChild<QMenu*>(QLatin1String(name));
        };
        QCOMPARE(describe(menu("Polaczenie")),
                 (QStringList{"Polaczenie_Polacz|Połącz|on", "Polaczenie_Raport|Raport…|on", "N1|-",
                              "Polaczenie_Exit|W&yjście|on"}));
        QCOMPARE(describe(menu("Edit1")),
                 (QStringList{"Widok_Program|Program|on", "Widok_Rejestr|Rejestr|on",
                              "Widok_N1|Monitor - N1|on", "Widok_N2|Monitor - N2|on",
                              "Widok_N3|Monitor - N3|on", "Widok_Alarmy|Alarmy|on"}));
        QCOMPARE(describe(menu("Ustawienia1")),
                 (QStringList{"Ustawienia_Konfiguracja|&Konfiguracja|off",
                              "Ustawienia_Dostosuj|&Dostosuj|off", "Ustawienia_Zegar|Zegar|on",
                              "Ustawienia_Zabezpieczenia|Zabezpieczenia|off",
                              "Ustawienia_Alarmy|Alarmy – ustawienia…|on", "N2|-"}));
        QCOMPARE(describe(menu("Window1")),
                 (QStringList{"WindowCascadeItem|Ułóż okna kaskadowo|on",
                              "WindowTileItem|Ułuż okna jedno nad drugim|on",
                              "WindowTileItem2|Ułóż okna jedno obok drugiego|on",
                              "WindowMinimizeItem|Minimalizuj wszystkie okna|on"}));
        QCOMPARE(describe(menu("Help1")),
                 (QStringList{"HelpAboutItem|O programie|on", "Ustawienia_Demo|Demo|off|hidden"}));

        // Window items carry check marks, all clear at start.
        for (QAction* a : {m.Widok_Program, m.Widok_Rejestr, m.Widok_N1, m.Widok_N2, m.Widok_N3,
                           m.Widok_Alarmy, m.Ustawienia_Konfiguracja, m.Ustawienia_Dostosuj,
                           m.Ustawienia_Zegar, m.Ustawienia_Zabezpieczenia, m.Ustawienia_Demo}) {
            QVERIFY2(a->isCheckable() && !a->isChecked(), qPrintable(a->objectName()));
            QVERIFY(m.windowItem(a));
        }
        QVERIFY(!m.Polaczenie_Polacz->isCheckable());
        QCOMPARE(m.FileOpen1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    }

    // Screen readers and UI automation find every menu, menu item and the
    // status bar by its component name.
    void accessibleDescriptions() {
        TQTA504& m = startMain();
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(m.menuBar());
        QVERIFY(bar);
        QCOMPARE(bar->text(QAccessible::Description), QStringLiteral("MainMenu1"));
        for (QMenu* menu : m.menuBar()->findChildren<QMenu*>()) {
            QAccessibleInterface* mi = QAccessible::queryAccessibleInterface(menu);
            QVERIFY(mi);
            QCOMPARE(mi->text(QAccessible::Description), menu->objectName());
            int items = 0;
            for (int i = 0; i < mi->childCount(); ++i) {
                QAccessibleInterface* item = mi->child(i);
                QVERIFY(item);
                QAction* a = menu->actions().value(i);
                QVERIFY(a);
                if (a->isSeparator())
                    continue;
                ++items;
                QCOMPARE(item->text(QAccessible::Description), a->objectName());
                QVERIFY2(!item->text(QAccessible::Name).isEmpty(), qPrintable(a->objectName()));
            }
            QVERIFY(items > 0);
        }
        // The items themselves: caption, what it does, state.
        const auto item = [](QAction* a) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(a);
            return i ? i : nullptr;
        };
        QAccessibleInterface* exit = item(m.Polaczenie_Exit);
        QVERIFY(exit);
        QCOMPARE(exit->role(), QAccessible::MenuItem);
        QCOMPARE(exit->text(QAccessible::Name), QStringLiteral("Wyjście"));
        QCOMPARE(exit->text(QAccessible::Accelerator), QStringLiteral("Alt+Y"));
        QCOMPARE(exit->text(QAccessible::Help), QStringLiteral("Zakończ program"));
        QVERIFY(exit->actionInterface());
        QVERIFY(item(m.Ustawienia_Konfiguracja)->state().disabled);
        QVERIFY(item(m.Ustawienia_Demo)->state().invisible);
        m.core.Aktywny_Program = 1;
        m.Widok_Program->trigger();
        QVERIFY(item(m.Widok_Program)->state().checkable);
        QVERIFY(item(m.Widok_Program)->state().checked);
        QAccessibleInterface* okna = bar->child(3);
        QVERIFY(okna);
        QCOMPARE(okna->text(QAccessible::Description), QStringLiteral("Window1"));
        QCOMPARE(okna->text(QAccessible::Name), QStringLiteral("Okna"));
        QVERIFY(okna->state().hasPopup);
        QCOMPARE(okna->child(0)->object(), m.Window1);
        // Pressing an item through the interface is choosing it.
        exit->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(!m.isVisible());

        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(m.statusBar());
        QVERIFY(status);
        QCOMPARE(status->text(QAccessible::Description), QStringLiteral("StatusBar"));
    }

    void statusBarPanels() {
        TQTA504& m = startMain();
        const std::array<int, 3> widths = {200, 60, 600};
        for (int i = 0; i < 3; ++i) {
            auto* l = m.statusBar()->findChild<QLabel*>(QStringLiteral("StatusBar_Panel%1").arg(i));
            QVERIFY(l);
            QCOMPARE(l->width(), widths[size_t(i)]);
            QCOMPARE(bool(l->alignment() & Qt::AlignHCenter), i == 0);
            QVERIFY(m.statusPanel(i).isEmpty());
        }
        // Hovering a menu item (its status tip is the component name) leaves
        // the panels in place.
        m.setStatusPanel(0, QStringLiteral("tekst"));
        m.Widok_Program->showStatusText(m.menuBar());
        QVERIFY(m.statusBar()->currentMessage().isEmpty());
        QCOMPARE(m.statusPanel(0), QStringLiteral("tekst"));
        QVERIFY(m.statusBar()->findChild<QLabel*>(QStringLiteral("StatusBar_Panel0"))->isVisible());
    }

    // ------------------------------------------------------------ window items

    void programItem() {
        TQTA504& m = startMain();
        QCOMPARE(m.core.Aktywny_Program, 0);
        m.Widok_Program->trigger();
        QVERIFY(children().isEmpty());
        QVERIFY(!m.Widok_Program->isChecked());

        deliver(buildFrame(RxStatus, statusPayload(3)));
        QCOMPARE(m.core.Aktywny_Program, 3);
        QVERIFY(children().isEmpty()); // a program change opens nothing while unchecked

        m.Widok_Program->trigger();
        QCOMPARE(children().size(), 1);
        QCOMPARE(programOf(children()[0]), 3);
        QCOMPARE(children()[0]->windowTitle(), QStringLiteral("Aktualny program: N1 + N2"));
        QVERIFY(m.Widok_Program->isChecked());

        m.Widok_Program->trigger(); // checked: closes
        flushDeletes();
        QVERIFY(children().isEmpty());
        QVERIFY(!m.Widok_Program->isChecked());

        // Closed by its close box: the mark goes; the item opens a new window.
        m.Widok_Program->trigger();
        QPointer<QMdiSubWindow> first = children().value(0);
        QVERIFY(first);
        first->close();
        QVERIFY(!m.Widok_Program->isChecked());
        flushDeletes();
        QVERIFY(!first);
        m.Widok_Program->trigger();
        QCOMPARE(children().size(), 1);
        QVERIFY(m.Widok_Program->isChecked());
    }

    // A status reply that changes the program while "Program" is checked.
    void programChange_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QList<int>>("replies"); // programs of the replies, in one read
        QTest::addColumn<int>("shown");          // program of the one window, 0 none
        QTest::newRow("1 -> 10") << 1 << true << QList<int>{10} << 10;
        QTest::newRow("10 -> 2") << 10 << true << QList<int>{2} << 2;
        QTest::newRow("2 -> 5") << 2 << true << QList<int>{5} << 5;
        QTest::newRow("3 -> 0: no window") << 3 << true << QList<int>{0} << 0;
        QTest::newRow("1 -> 10 -> 1 in one read") << 1 << true << QList<int>{10, 1} << 1;
        QTest::newRow("same program") << 11 << true << QList<int>{11, 11} << 11;
        QTest::newRow("unchecked: nothing opens") << 1 << false << QList<int>{12} << 0;
    }
    void programChange() {
        QFETCH(int, from);
        QFETCH(bool, open);
        QFETCH(QList<int>, replies);
        QFETCH(int, shown);
        TQTA504& m = startMain();
        deliver(buildFrame(RxStatus, statusPayload(from)));
        if (open)
            m.Widok_Program->trigger();
        QPointer<QMdiSubWindow> before = children().value(0);
        QByteArray bytes;
        for (int p : replies)
            bytes += buildFrame(RxStatus, statusPayload(p));
        deliver(bytes);
        QCOMPARE(m.core.Aktywny_Program, replies.last());
        // The windows refresh four times a second; a self-switching window must
        // not open a second successor when the reply already did.
        for (int round = 0; round < 2; ++round) {
            if (round == 1)
                QTest::qWait(600);
            flushDeletes();
            QCOMPARE(children().size(), shown ? 1 : 0);
            QCOMPARE(m.Widok_Program->isChecked(), shown != 0);
            if (shown)
                QCOMPARE(programOf(children()[0]), shown);
        }
        if (std::all_of(replies.begin(), replies.end(), [from](int p) { return p == from; }))
            QCOMPARE(children().value(0), before.data()); // no change: the same window
    }

    // The items whose windows belong to parts not built yet do nothing.
    void itemsWithoutWindows() {
        TQTA504& m = startMain();
        m.enableSettingsItems();
        for (QAction* a :
             {m.Widok_N1, m.Widok_N2, m.Widok_N3, m.Ustawienia_Konfiguracja, m.Ustawienia_Dostosuj,
              m.Ustawienia_Zegar, m.Ustawienia_Zabezpieczenia}) {
            a->trigger();
            a->trigger();
            QVERIFY2(!a->isChecked(), qPrintable(a->objectName()));
            QVERIFY(children().isEmpty());
        }
    }

    // The same rule for every item once its window exists (a stand-in window here).
    void itemRuleWithWindow() {
        TQTA504& m = startMain();
        int made = 0;
        m.setWindowFactory(m.Widok_N2, [&made] {
            ++made;
            auto* w = new QWidget;
            w->setWindowTitle(QStringLiteral("Linia N2"));
            return w;
        });
        m.Widok_N2->trigger();
        QCOMPARE(children().size(), 1);
        QVERIFY(m.Widok_N2->isChecked());
        QCOMPARE(children()[0]->windowTitle(), QStringLiteral("Linia N2"));
        children()[0]->close();
        QVERIFY(!m.Widok_N2->isChecked());
        flushDeletes();
        QVERIFY(children().isEmpty());
        m.Widok_N2->trigger();
        QCOMPARE(made, 2);
        QVERIFY(m.Widok_N2->isChecked());
        m.Widok_N2->trigger();
        QVERIFY(!m.Widok_N2->isChecked());
        flushDeletes();
        QVERIFY(children().isEmpty());
        QVERIFY(!m.Widok_N1->isChecked());
    }

    // ------------------------------------------------------------ window menu

    void windowMenuArrangesChildrenOnly() {
        TQTA504& m = startMain();
        QPointer<TStart> start = m.startWindow();
        QVERIFY(start && start->isVisible());
        const QRect startGeometry = start->geometry();

        deliver(buildFrame(RxStatus, statusPayload(10)));
        m.Widok_Program->trigger();
        QFile text(path(QStringLiteral("a.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("tekst\n");
        text.close();
        m.CreateMDIChild(text.fileName());
        m.CreateMDIChild(path(QStringLiteral("brak.txt")));
        QCOMPARE(children().size(), 3);

        // The window list under "&Okna" names the children.
        Q_EMIT m.Window1->aboutToShow();
        QStringList listed;
        for (QAction* a : m.Window1->actions())
            if (a->text().startsWith(u'&'))
                listed << a->text();
        QCOMPARE(listed.size(), 3);
        QVERIFY(listed.contains(QStringLiteral("&1 Tylko linia N1")));

        const QRect area = m.mdiArea()->viewport()->rect();
        const auto apart = [&](const char* how) {
            const QList<QMdiSubWindow*> subs = children();
            for (int i = 0; i < subs.size(); ++i) {
                QVERIFY2(area.contains(subs[i]->geometry()),
                         qPrintable(QStringLiteral("%1: %2 outside").arg(how).arg(i)));
                for (int j = i + 1; j < subs.size(); ++j)
                    QVERIFY2(
                        !subs[i]->geometry().intersects(subs[j]->geometry()),
                        qPrintable(QStringLiteral("%1: %2 and %3 overlap").arg(how).arg(i).arg(j)));
            }
        };

        // The About box is open (modal) while the items are chosen.
        QString aboutTitle;
        bool aboutArranged = false;
        QTimer::singleShot(0, &m, [&] {
            QWidget* about = QApplication::activeModalWidget();
            if (!about)
                return;
            aboutTitle = about->windowTitle();
            const QRect before = about->geometry();
            m.WindowTileItem->trigger();
            m.WindowTileItem2->trigger();
            m.WindowCascadeItem->trigger();
            aboutArranged = about->geometry() != before || about->isMinimized() ||
                            qobject_cast<QMdiSubWindow*>(about->parentWidget());
            about->close();
        });
        QTimer::singleShot(5000, &m, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->close();
        });
        m.HelpAboutItem->trigger();
        QCOMPARE(aboutTitle, QStringLiteral("O Programie..."));
        QVERIFY(!aboutArranged);
        QCOMPARE(children().size(), 3);

        m.WindowTileItem->trigger();
        apart("one above the other");
        for (QMdiSubWindow* s : children())
            QCOMPARE(s->x(), 0);
        m.WindowTileItem2->trigger();
        apart("side by side");
        for (QMdiSubWindow* s : children())
            QCOMPARE(s->y(), 0);

        m.WindowCascadeItem->trigger();
        QList<QPoint> corners;
        for (QMdiSubWindow* s : children())
            corners << s->pos();
        std::sort(corners.begin(), corners.end(), [](QPoint a, QPoint b) { return a.y() < b.y(); });
        for (int i = 1; i < corners.size(); ++i)
            QVERIFY(corners[i].y() > corners[i - 1].y() && corners[i].x() > corners[i - 1].x());

        m.WindowMinimizeItem->trigger();
        for (QMdiSubWindow* s : children())
            QVERIFY(s->isMinimized());
        QVERIFY(start && start->isVisible() && !start->isMinimized());
        QCOMPARE(start->geometry(), startGeometry);
        QVERIFY(!m.isMinimized());
    }

    // ------------------------------------------------------------ text viewer

    void textViewer_data() {
        QTest::addColumn<QByteArray>("content"); // empty: no such file
        QTest::addColumn<QStringList>("lines");
        const QByteArray longLine(400, 'x');
        QTest::newRow("UTF-8 file")
            << QByteArray("Zdarzenia\nZanik napięcia – linia N1\n" + longLine + "\n")
            << QStringList{"Zdarzenia", "Zanik napięcia – linia N1", QString::fromLatin1(longLine),
                           ""};
        QTest::newRow("no such file") << QByteArray() << QStringList{""};
    }
    void textViewer() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, lines);
        TQTA504& m = startMain();
        const QString name = path(QStringLiteral("plik.txt"));
        if (!content.isEmpty()) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QMdiSubWindow* sub = m.CreateMDIChild(name);
        QVERIFY(sub && sub->isVisible());
        QCOMPARE(sub->windowTitle(), name);
        auto* edit = qobject_cast<QPlainTextEdit*>(sub->widget());
        QVERIFY(edit);
        QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(edit->toPlainText().split(u'\n'), lines);
        // Several at once, no item checked.
        m.CreateMDIChild(name);
        QCOMPARE(children().size(), 2);
        for (QAction* a : m.findChildren<QAction*>())
            QVERIFY2(!a->isChecked() || !m.windowItem(a), qPrintable(a->objectName()));
    }

    // ------------------------------------------------------------ error handling

    void errorBoxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no stop") << "Nie można otworzyć pliku"
                                 << "Nie można otworzyć pliku.";
        QTest::newRow("stop kept") << "Błąd zapisu."
                                   << "Błąd zapisu.";
        QTest::newRow("trailing blank") << "Błąd zapisu. "
                                        << "Błąd zapisu.";
        QTest::newRow("ellipsis kept") << "Brak połączenia..."
                                       << "Brak połączenia...";
        QTest::newRow("other mark") << "Uwaga!"
                                    << "Uwaga!.";
    }
    void errorBoxText() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(qta::errorBoxText(message), shown);
    }

    // What an event handler lets escape is shown, and the program carries on.
    void escapedExceptionShown() {
        TQTA504& m = startMain();
        QTimer::singleShot(0, &m, [] { throw std::runtime_error("Awaria testowa"); });
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                    return b;
            return static_cast<QMessageBox*>(nullptr);
        }()));
        QCOMPARE(box->windowTitle(), QStringLiteral("QTA-504"));
        QCOMPARE(box->text(), QStringLiteral("Awaria testowa."));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        bool ranAfter = false;
        QTimer::singleShot(0, &m, [&ranAfter] { ranAfter = true; });
        QTRY_VERIFY(ranAfter);
        QVERIFY(m.isVisible());
        box->close();
    }

    // ------------------------------------------------------------ start window and link

    void connectsOnSavedPort() {
        QVERIFY(startSim());
        writeSettings(sim_->link());
        TQTA504& m = startMain();
        QElapsedTimer sinceCreate;
        sinceCreate.start();
        QVERIFY(m.startWindow());
        const QStringList texts = withoutDots(watchStartTexts(m, 8000));
        QVERIFY2(!m.startWindow(), qPrintable(texts.join(u'|')));
        QCOMPARE(texts,
                 (QStringList{"Odbiór identyfikatora urządzenia",
                              "Odbiór parametrów konfiguracyjnych", "Odbiór ustawień urządzenia"}));
        QVERIFY(m.core.Flaga_Kom.OK);
        QVERIFY(m.core.ComPort.Connected());

        const QString ini = settingsText();
        QCOMPARE(iniKeys(ini), (QStringList{"Port", "BaudRate", "StopBits", "DataBits", "Parity",
                                            "FlowControl"}));
        QCOMPARE(iniValue(ini, QStringLiteral("Port")), sim_->link());
        QCOMPARE(iniValue(ini, QStringLiteral("BaudRate")), QStringLiteral("38400"));

        // Timer1: the settings items and the mimic window, once.
        QTRY_VERIFY_WITH_TIMEOUT(m.Ustawienia_Konfiguracja->isEnabled(), 3000);
        QVERIFY(sinceCreate.elapsed() < 3000);
        QVERIFY(m.Ustawienia_Dostosuj->isEnabled());
        QVERIFY(m.Ustawienia_Zabezpieczenia->isEnabled());
        QCOMPARE(children().size(), 1);
        QCOMPARE(programOf(children()[0]), 1);
        QVERIFY(m.Widok_Program->isChecked());
        QVERIFY(!m.core.Timer1.isActive());
        QCOMPARE(m.statusPanel(0), kConnected + QStringLiteral("QTA1v2"));
        QCOMPARE(m.Polaczenie_Polacz->text(), QStringLiteral("Rozłącz"));
    }

    // The saved port is gone: the scan passes a missing port and one that
    // never answers, and finds the controller on the third; that port is saved.
    void scanFindsController() {
        QVERIFY(startSim());
        const QString missing = path(QStringLiteral("a-brak"));
        const QString silentPath = path(QStringLiteral("b-cisza"));
        SilentLine silent(silentPath);
        QVERIFY(silent.ok());
        setPorts({sim_->link(), silentPath, missing}); // the scan sorts them
        const QString saved = path(QStringLiteral("brak/port"));
        TQTA504& m = startMain();
        QVERIFY(m.startWindow());
        QCOMPARE(m.startWindow()->cycle.Timer.interval(), 1000);
        QCOMPARE(m.startWindow()->cycle.Etap, 0);
        m.startWindow()->cycle.Timer.setInterval(100); // the steps, faster
        const QStringList raw = watchStartTexts(m, 10000);
        QVERIFY2(!m.startWindow(), qPrintable(raw.join(u'|')));
        const QString checking = QStringLiteral("Sprawdzam port ");
        QVERIFY2(raw.contains(checking + silentPath + QStringLiteral("....")),
                 qPrintable(raw.join(u'|')));
        QVERIFY(!raw.contains(checking + silentPath + QStringLiteral(".....")));
        QCOMPARE(withoutDots(raw),
                 (QStringList{"Port " + saved + " niedostępny", "Port " + missing + " niedostępny",
                              checking + silentPath, "Brak odpowiedzi - szukam dalej",
                              checking + sim_->link(), "Odbiór parametrów konfiguracyjnych",
                              "Odbiór ustawień urządzenia"}));
        const QString ini = settingsText();
        QCOMPARE(iniKeys(ini), (QStringList{"Port", "BaudRate", "StopBits", "DataBits", "Parity",
                                            "FlowControl"}));
        QCOMPARE(iniValue(ini, QStringLiteral("Port")), sim_->link());
        QVERIFY(m.core.Flaga_Kom.OK);
    }

    // Without a controller the start window keeps looking, at its own pace.
    void noController_data() {
        QTest::addColumn<bool>("silentSaved"); // saved port opens but never answers
        QTest::addColumn<int>("interval");
        QTest::newRow("no ports at all") << false << 1000;
        QTest::newRow("saved port silent") << true << 250;
    }

    // Texts longer than the start window: every line fits, the whole text is
    // shown (only a single word wider than a line, a long device path, is
    // shortened in the middle), and what matters leads (the port on the first
    // line, the server's answer from its start).
    void startWindowLongTexts() {
        TNullView view;
        TQTA504Core core(&view);
        core.Timer2.stop();
        TStart start(core);
        start.show();
        struct Case {
            QString text;
            QStringList lines; // empty: only that every line fits
            bool whole;        // every word shown
        };
        const Case cases[] = {
            {QStringLiteral("Sprawdzam port ttyUSB0 (FT232R USB UART, nr seryjny A50285BI)..."),
             {QStringLiteral("Sprawdzam port ttyUSB0")},
             true},
            {QStringLiteral("Serwer 192.168.10.21:2001 nie odpowiada na negocjację RFC 2217 (dla "
                            "surowego strumienia bajtów podaj tcp://)"),
             {},
             true},
            {QStringLiteral("Sprawdzam port "
                            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0..."),
             {},
             false},
            {QStringLiteral("Łączenie z tcp://127.0.0.1:2001"),
             {QStringLiteral("Łączenie z tcp://127.0.0.1:2001")},
             true},
        };
        const QFontMetrics fm = start.StatusBar->fontMetrics();
        const int room = start.StatusBar->width() - 2 * start.StatusBar->frameWidth() - 6;
        for (const Case& c : cases) {
            start.setStatusText(c.text);
            const QStringList shown = start.StatusBar->text().split(u'\n');
            for (const QString& l : shown)
                QVERIFY2(fm.horizontalAdvance(l) <= room, qPrintable(l));
            if (!c.lines.isEmpty())
                QCOMPARE(shown.mid(0, c.lines.size()), c.lines);
            if (c.whole)
                QCOMPARE(shown.join(u' '), c.text);
            QVERIFY(shown.last().endsWith(c.text.right(3)));
            // The label has room for all its lines, inside the window and
            // below the button.
            const QRect label = start.StatusBar->geometry();
            QVERIFY2(start.StatusBar->sizeHint().height() <= label.height(), qPrintable(c.text));
            QVERIFY(start.rect().contains(label));
            QVERIFY(label.top() > start.Button1->geometry().bottom());
            QCOMPARE(start.StatusBar->toolTip(), c.text);
        }
        // A short text again: the window as it was.
        start.setStatusText(cases[3].text);
        QCOMPARE(start.size(), QSize(316, 135));
    }

    // At the smallest size the window allows, no item of the status bar
    // covers another or runs past the bar: connected with an alarm waiting,
    // and on a folder the collector holds.
    void statusBarFitsAtTheSmallestSize_data() {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("connected, an alarm waiting") << false;
        QTest::newRow("collector's folder") << true;
    }
    void statusBarFitsAtTheSmallestSize() {
        QFETCH(bool, readOnly);
        TQTA504 m;
        QDateTime now(QDate(2026, 12, 10), QTime(2, 13, 5));
        if (readOnly) {
            m.FormCreateReadOnly(
                QStringLiteral("Tylko do odczytu: folder obsługuje kolektor qta504d (PID 4242)"));
        } else {
            m.setStatusPanel(0, QStringLiteral("Połączono z QTA504 - v. QTA1v2"));
            m.setStatusPanel(1, QStringLiteral("Awaria !"));
            m.setStatusPanel(2, QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa"));
            m.core.Alarmy.setClock([&now] { return now; });
            TAlarmSettings s;
            s.flickerSeconds = 0;
            m.core.Alarmy.setSettings(s);
            m.core.Alarmy.status(0x80, ProgN1N2N3, ActiveN1, {3, 3, 3});
            QVERIFY(m.alarmCount()->isVisibleTo(&m));
        }
        m.show();
        QStatusBar* bar = m.statusBar();
        QTRY_COMPARE(bar->minimumWidth(), bar->minimumSizeHint().width());
        m.resize(1, 1);
        const auto problem = [bar] {
            QList<QWidget*> items;
            for (QWidget* w : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (w->isVisible())
                    items << w;
            for (int i = 0; i < items.size(); ++i) {
                const QRect r = items[i]->geometry();
                if (!bar->rect().contains(r))
                    return items[i]->objectName() + QStringLiteral(" past the bar");
                if (auto* l = qobject_cast<QLabel*>(items[i]);
                    l && l->fontMetrics().horizontalAdvance(l->text()) > l->contentsRect().width())
                    return items[i]->objectName() + QStringLiteral(" cut");
                for (int j = i + 1; j < items.size(); ++j)
                    if (r.intersects(items[j]->geometry()))
                        return items[i]->objectName() + QStringLiteral(" covers ") +
                               items[j]->objectName();
            }
            return QString();
        };
        QTRY_COMPARE(problem(), QString());
        QCOMPARE(m.width(), m.minimumWidth());
    }

    // A first start: no port saved and none present. The window names no
    // port (the port service's default name belongs to no device here).
    void noPortSavedNoneFound() {
        writeSettings(QString());
        TQTA504& m = startMain();
        QPointer<TStart> start = m.startWindow();
        QVERIFY(start);
        const QStringList texts = watchStartTexts(m, 2500);
        QCOMPARE(texts, QStringList{"Szukam sterownika"});
        QVERIFY(start && start->cycle.Timer.isActive());
    }
    void noController() {
        QFETCH(bool, silentSaved);
        QFETCH(int, interval);
        const QString line =
            silentSaved ? path(QStringLiteral("cisza")) : path(QStringLiteral("brak/port"));
        std::unique_ptr<SilentLine> silent;
        if (silentSaved) {
            silent = std::make_unique<SilentLine>(line);
            QVERIFY(silent->ok());
            writeSettings(line);
        }
        TQTA504& m = startMain();
        QPointer<TStart> start = m.startWindow();
        QVERIFY(start);

        // The window itself.
        QVERIFY(start->isWindow() && !start->parentWidget());
        QCOMPARE(start->size(), QSize(316, 135));
        QCOMPARE(start->windowTitle(), QStringLiteral("Start"));
        QVERIFY(start->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(start->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowMaximizeButtonHint)));
        QCOMPARE(start->palette().color(QPalette::Window), QColor(231, 218, 185));
        QCOMPARE(start->Label1->text(), QStringLiteral("QTA504 - Łączenie"));
        QCOMPARE(start->Label1->font().pixelSize(), 32);
        QCOMPARE(start->Button1->text(), QStringLiteral("Anuluj"));
        QCOMPARE(start->cycle.Timer.interval(), interval);

        const QString gone = QStringLiteral("Port ") + line + QStringLiteral(" niedostępny");
        QStringList expected;
        if (silentSaved)
            expected = {"Odbiór identyfikatora urządzenia",
                        "Odbiór identyfikatora urządzenia.",
                        "Odbiór identyfikatora urządzenia..",
                        "Odbiór identyfikatora urządzenia...",
                        "Odbiór identyfikatora urządzenia....",
                        "Brak odpowiedzi - szukam dalej",
                        gone};
        else
            expected = {gone};
        QElapsedTimer t;
        t.start();
        const QStringList texts = watchStartTexts(m, 8000, [&](const QStringList& seen) {
            return seen.size() >= expected.size() && start->cycle.Indeks >= 2;
        });
        QCOMPARE(texts, expected);
        if (silentSaved)
            QVERIFY2(t.elapsed() >= 5 * 250 - 100, qPrintable(QString::number(t.elapsed())));
        else
            QVERIFY2(t.elapsed() >= 2 * 1000 - 100, qPrintable(QString::number(t.elapsed())));
        // The scan goes on: window open, timer running, nothing usable.
        QVERIFY(start && start->isVisible());
        QVERIFY(start->cycle.Timer.isActive());
        QCOMPARE(start->cycle.Etap, 0);
        QVERIFY(!m.core.ComPort.Connected());
        QVERIFY(!m.core.Flaga_Kom.OK);
        QVERIFY(!m.Ustawienia_Konfiguracja->isEnabled());
    }

    // Esc is "Anuluj": after the identifier came (link usable), while the
    // configuration replies are lost.
    void cancelWithEscape() {
        QVERIFY(startSim());
        sim_->command("drop 1 1000");
        writeSettings(sim_->link());
        TQTA504& m = startMain();
        QPointer<TStart> start = m.startWindow();
        QVERIFY(start);
        QTRY_VERIFY_WITH_TIMEOUT(
            start->statusText().startsWith(QStringLiteral("Odbiór parametrów konfiguracyjnych")),
            5000);
        QVERIFY(m.core.Flaga_Kom.OK);
        // The request goes again on the fifth tick.
        QTRY_VERIFY_WITH_TIMEOUT(sim_->count(QStringLiteral("rx 1")) >= 2, 4000);

        QApplication::setActiveWindow(start);
        QVERIFY(QTest::qWaitForWindowActive(start));
        QTest::keyClick(start, Qt::Key_Escape);
        QTRY_VERIFY(!start);
        QVERIFY(!m.startWindow());
        QVERIFY(!m.core.ComPort.Connected());
        QVERIFY(!m.core.Flaga_Kom.OK);
        const int requests = sim_->received().size();

        // Timer1 and the watchdog have nothing to act on.
        QTest::qWait(2500);
        QVERIFY(!m.Ustawienia_Konfiguracja->isEnabled());
        QVERIFY(children().isEmpty());
        QVERIFY(!m.core.ComPort.Connected());
        QVERIFY(!m.statusPanel(0).startsWith(QStringLiteral("Brak połączenia")));
        QCOMPARE(sim_->received().size(), requests);
    }

    // The device vanishes and another controller answers on the same line: once
    // the watchdog has the link back, the controller is read again (identifier,
    // configuration, customisation) and the event log copies what it lacks.
    void controllerSwappedBehindLostLink() {
        QVERIFY(startSim({QStringLiteral("--events"), QStringLiteral("2")}));
        writeSettings(sim_->link());
        TQTA504& m = startMain();
        QTRY_VERIFY_WITH_TIMEOUT(m.Ustawienia_Konfiguracja->isEnabled(), 5000);
        QCOMPARE(m.statusPanel(0), kConnected + QStringLiteral("QTA1v2"));
        QCOMPARE(m.core.Konfig.Linia[1].Umin, 195);
        QTRY_COMPARE_WITH_TIMEOUT(m.core.Rejestr()->RecordCount(), 2, 8000);

        sim_.reset(); // the adapter is pulled
        QTRY_VERIFY_WITH_TIMEOUT(m.statusPanel(0).startsWith(QStringLiteral("Brak połączenia..")),
                                 5000);
        QVERIFY(
            startSim({QStringLiteral("--id"), QStringLiteral("QTA7v1"), QStringLiteral("--program"),
                      QStringLiteral("5"), QStringLiteral("--limits"), QStringLiteral("180,260,5"),
                      QStringLiteral("--events"), QStringLiteral("5")}));
        QTRY_COMPARE_WITH_TIMEOUT(m.statusPanel(0), kConnected + QStringLiteral("QTA7v1"), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(m.core.Konfig.Linia[1].Umin, 180, 3000);
        QCOMPARE(m.core.Konfig.Linia[3].Umax, 260);
        QCOMPARE(m.core.Konfig.Linia[2].Histereza, 5);
        QCOMPARE(m.core.Konfig.Progr, 5);
        QTRY_VERIFY_WITH_TIMEOUT(m.core.Flaga_Kom.Ustawienia && !m.core.Relink.running(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(m.core.Rejestr()->RecordCount(), 5, 8000);
        QVERIFY(m.core.Flaga_Kom.OK);
        QVERIFY(!m.startWindow());
    }

    // Replies stop: the watchdog drops and reopens the port once a second until
    // they come back. "Rozłącz" takes the link down for good; "Połącz" brings it up.
    void watchdog() {
        QVERIFY(startSim());
        writeSettings(sim_->link());
        TQTA504& m = startMain();
        QTRY_VERIFY_WITH_TIMEOUT(m.Ustawienia_Konfiguracja->isEnabled(), 5000);
        QCOMPARE(m.statusPanel(0), kConnected + QStringLiteral("QTA1v2"));

        sim_->command("silent on");
        QTRY_COMPARE_WITH_TIMEOUT(m.statusPanel(0), QStringLiteral("Brak połączenia..."), 5000);
        QVERIFY(!m.core.ComPort.Connected());
        QCOMPARE(m.Polaczenie_Polacz->text(), QStringLiteral("Połącz"));
        QVERIFY(!m.core.UART_Connect);
        // Reopened and closed again, about once a second.
        QElapsedTimer t;
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(m.core.ComPort.Connected(), 2000);
        const qint64 opened = t.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!m.core.ComPort.Connected(), 2000);
        const qint64 closed = t.elapsed();
        QVERIFY2(opened > 700 && opened < 1400, qPrintable(QString::number(opened)));
        QVERIFY2(closed - opened > 700 && closed - opened < 1400,
                 qPrintable(QString::number(closed - opened)));
        QCOMPARE(m.statusPanel(0), QStringLiteral("Brak połączenia..."));

        sim_->command("silent off");
        QTRY_COMPARE_WITH_TIMEOUT(m.statusPanel(0), kConnected + QStringLiteral("QTA1v2"), 5000);
        QCOMPARE(m.Polaczenie_Polacz->text(), QStringLiteral("Rozłącz"));
        QVERIFY(m.core.ComPort.Connected());
        QVERIFY(m.core.UART_Connect);

        // "Rozłącz": closed, no loss text, no reconnection.
        m.Polaczenie_Polacz->trigger();
        QVERIFY(!m.core.ComPort.Connected());
        QCOMPARE(m.Polaczenie_Polacz->text(), QStringLiteral("Połącz"));
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < 4000) {
            QTest::qWait(50);
            QVERIFY(!m.core.ComPort.Connected());
        }
        QCOMPARE(m.statusPanel(0), kConnected + QStringLiteral("QTA1v2"));
        QVERIFY(!m.startWindow());

        // "Połącz": a new start window, the link comes back.
        m.Polaczenie_Polacz->trigger();
        QVERIFY(m.startWindow());
        QCOMPARE(m.Polaczenie_Polacz->text(), QStringLiteral("Rozłącz"));
        QTRY_VERIFY_WITH_TIMEOUT(!m.startWindow(), 5000);
        QVERIFY(m.core.ComPort.Connected());
        QVERIFY(m.core.Flaga_Kom.OK);
        QCOMPARE(children().size(), 1); // Timer1 does not open a second mimic window
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's own application object: errors escaping event handlers
    // are shown, not fatal.
    qta::TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QTA-504"));
    QApplication::setApplicationDisplayName(QStringLiteral("QTA-504"));
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
