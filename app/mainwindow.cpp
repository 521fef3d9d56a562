#include "app/mainwindow.h"

#include "alarms/alarmlistmodel.h"
#include "alarms/alarmsettingsdialog.h"
#include "app/aboutbox.h"
#include "app/errors.h"
#include "app/menuaccessible.h"
#include "app/startwindow.h"
#include "report/reportdialog.h"
#include "tables/table.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextStream>
#include <QTimer>
#include <algorithm>

namespace qta {

namespace {
// What a status panel's accessible name says before its text.
const std::array<QString, 3> kPanelNames = {QStringLiteral("Stan połączenia"),
                                            QStringLiteral("Sygnalizacja awarii"),
                                            QStringLiteral("Opis awarii")};
} // namespace

TQTA504::TQTA504(QWidget* parent) : QMainWindow(parent), core(this) {
    setObjectName(QStringLiteral("QTA504"));
    setErrorBoxOwner(this);
    setWindowTitle(QStringLiteral("QTA-504 v. 1.2"));
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("ClientArea"));
    mdi_->setAccessibleName(QStringLiteral("Obszar okien programu"));
    mdi_->setBackground(palette().brush(QPalette::Dark)); // the application-workspace colour
    setCentralWidget(mdi_);
    installMenuItemAccessibility();
    buildMenu();
    buildStatusBar();
}

TQTA504::~TQTA504() {
    // Child windows and the publisher read the core: they go before it.
    mdi_->closeAllSubWindows();
    delete mdi_;
    mdi_ = nullptr;
    delete publishing_;
    publishing_ = nullptr;
}

QAction* TQTA504::addItem(QMenu* menu, const QString& caption, const char* component,
                          const QString& accessibleName) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(component));
    // Screen readers and UI automation: the component name as description,
    // a Polish text that says what the item does as help (both reach them
    // through installMenuItemAccessibility; Qt's own items give the caption only).
    a->setStatusTip(QLatin1String(component));
    a->setToolTip(accessibleName);
    a->setProperty("accessibleDescription", QLatin1String(component));
    a->setProperty("accessibleName", accessibleName);
    return a;
}

void TQTA504::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setAccessibleName(QStringLiteral("Menu główne"));
    bar->setAccessibleDescription(QStringLiteral("MainMenu1"));

    auto menu = [bar](const QString& caption, const char* component, const QString& name) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(QLatin1String(component));
        m->setAccessibleName(name);
        m->setAccessibleDescription(QLatin1String(component));
        m->menuAction()->setObjectName(QLatin1String(component));
        // The menu's entry in the menu bar is a menu item too.
        m->menuAction()->setProperty("accessibleDescription", QLatin1String(component));
        m->menuAction()->setProperty("accessibleName", name);
        return m;
    };

    QMenu* polaczenie =
        menu(QStringLiteral("&Połączenie"), "Polaczenie", QStringLiteral("Menu Połączenie"));
    Polaczenie_Polacz = addItem(polaczenie, QStringLiteral("Połącz"), "Polaczenie_Polacz",
                                QStringLiteral("Połącz ze sterownikiem lub rozłącz"));
    Polaczenie_Raport =
        addItem(polaczenie, QStringLiteral("Raport…"), "Polaczenie_Raport",
                QStringLiteral("Raport z uruchomienia i serwisu: plik PDF lub wydruk"));
    connect(Polaczenie_Raport, &QAction::triggered, this, &TQTA504::RaportExecute);
    polaczenie->addSeparator()->setObjectName(QStringLiteral("N1"));
    Polaczenie_Exit = addItem(polaczenie, QStringLiteral("W&yjście"), "Polaczenie_Exit",
                              QStringLiteral("Zakończ program"));
    connect(Polaczenie_Polacz, &QAction::triggered, this,
            [this] { core.Polaczenie_PolaczClick(); });
    connect(Polaczenie_Exit, &QAction::triggered, this, &QWidget::close);

    QMenu* widok = menu(QStringLiteral("&Widok"), "Edit1", QStringLiteral("Menu Widok"));
    Widok_Program = addItem(widok, QStringLiteral("Program"), "Widok_Program",
                            QStringLiteral("Okno synoptyczne aktualnego programu"));
    Widok_Rejestr = addItem(widok, QStringLiteral("Rejestr"), "Widok_Rejestr",
                            QStringLiteral("Okno rejestru zdarzeń"));
    Widok_N1 = addItem(widok, QStringLiteral("Monitor - N1"), "Widok_N1",
                       QStringLiteral("Wykres napięć linii N1"));
    Widok_N2 = addItem(widok, QStringLiteral("Monitor - N2"), "Widok_N2",
                       QStringLiteral("Wykres napięć linii N2"));
    Widok_N3 = addItem(widok, QStringLiteral("Monitor - N3"), "Widok_N3",
                       QStringLiteral("Wykres napięć linii N3"));
    Widok_Alarmy =
        addItem(widok, QStringLiteral("Alarmy"), "Widok_Alarmy", QStringLiteral("Okno alarmów"));

    QMenu* ustawienia =
        menu(QStringLiteral("&Ustawienia"), "Ustawienia1", QStringLiteral("Menu Ustawienia"));
    Ustawienia_Konfiguracja =
        addItem(ustawienia, QStringLiteral("&Konfiguracja"), "Ustawienia_Konfiguracja",
                QStringLiteral("Konfiguracja sterownika"));
    Ustawienia_Dostosuj = addItem(ustawienia, QStringLiteral("&Dostosuj"), "Ustawienia_Dostosuj",
                                  QStringLiteral("Dostosowanie sterownika"));
    Ustawienia_Zegar = addItem(ustawienia, QStringLiteral("Zegar"), "Ustawienia_Zegar",
                               QStringLiteral("Zegar sterownika"));
    Ustawienia_Zabezpieczenia =
        addItem(ustawienia, QStringLiteral("Zabezpieczenia"), "Ustawienia_Zabezpieczenia",
                QStringLiteral("Zabezpieczenie kodem PIN"));
    Ustawienia_Alarmy =
        addItem(ustawienia, QStringLiteral("Alarmy – ustawienia…"), "Ustawienia_Alarmy",
                QStringLiteral("Ustawienia alarmów: które są włączone, dźwięk, opóźnienie"));
    connect(Ustawienia_Alarmy, &QAction::triggered, this, &TQTA504::AlarmSettingsExecute);
    ustawienia->addSeparator()->setObjectName(QStringLiteral("N2"));
    Ustawienia_Konfiguracja->setEnabled(false);
    Ustawienia_Dostosuj->setEnabled(false);
    Ustawienia_Zabezpieczenia->setEnabled(false);

    Window1 = menu(QStringLiteral("&Okna"), "Window1", QStringLiteral("Menu Okna"));
    WindowCascadeItem = addItem(Window1, QStringLiteral("Ułóż okna kaskadowo"), "WindowCascadeItem",
                                QStringLiteral("Ułóż okna kaskadowo"));
    WindowTileItem = addItem(Window1, QStringLiteral("Ułuż okna jedno nad drugim"),
                             "WindowTileItem", QStringLiteral("Ułóż okna jedno nad drugim"));
    WindowTileItem2 = addItem(Window1, QStringLiteral("Ułóż okna jedno obok drugiego"),
                              "WindowTileItem2", QStringLiteral("Ułóż okna jedno obok drugiego"));
    WindowMinimizeItem =
        addItem(Window1, QStringLiteral("Minimalizuj wszystkie okna"), "WindowMinimizeItem",
                QStringLiteral("Minimalizuj wszystkie okna"));
    connect(WindowCascadeItem, &QAction::triggered, mdi_, &QMdiArea::cascadeSubWindows);
    connect(WindowTileItem, &QAction::triggered, this, &TQTA504::tileOneAboveOther);
    connect(WindowTileItem2, &QAction::triggered, this, &TQTA504::tileSideBySide);
    connect(WindowMinimizeItem, &QAction::triggered, this, &TQTA504::minimizeAll);
    connect(Window1, &QMenu::aboutToShow, this, &TQTA504::fillWindowMenu);

    QMenu* help = menu(QStringLiteral("Pomoc"), "Help1", QStringLiteral("Menu Pomoc"));
    HelpAboutItem = addItem(help, QStringLiteral("O programie"), "HelpAboutItem",
                            QStringLiteral("Informacje o programie"));
    Ustawienia_Demo = addItem(help, QStringLiteral("Demo"), "Ustawienia_Demo",
                              QStringLiteral("Panel demonstracyjny"));
    Ustawienia_Demo->setVisible(false);
    Ustawienia_Demo->setEnabled(false);
    connect(HelpAboutItem, &QAction::triggered, this, &TQTA504::HelpAbout1Execute);

    // The text viewer has no menu item: Ctrl+O only.
    FileOpen1 = new QAction(QStringLiteral("Otwórz plik tekstowy"), this);
    FileOpen1->setObjectName(QStringLiteral("FileOpen1"));
    FileOpen1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileOpen1->setShortcutContext(Qt::ApplicationShortcut);
    addAction(FileOpen1);
    connect(FileOpen1, &QAction::triggered, this, &TQTA504::FileOpen1Execute);

    // One rule for every window item.
    program_ = new TWindowItem(
        Widok_Program, mdi_,
        [this]() -> QWidget* {
            return mimicFactory ? mimicFactory(core.Aktywny_Program) : nullptr;
        },
        this);
    items_.push_back(program_);
    for (QAction* a :
         {Widok_Rejestr, Widok_N1, Widok_N2, Widok_N3, Widok_Alarmy, Ustawienia_Konfiguracja,
          Ustawienia_Dostosuj, Ustawienia_Zegar, Ustawienia_Zabezpieczenia, Ustawienia_Demo})
        items_.push_back(new TWindowItem(a, mdi_, nullptr, this));
}

void TQTA504::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setAccessibleName(QStringLiteral("Pasek stanu"));
    bar->setAccessibleDescription(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    const std::array<int, 3> widths = {200, 60, 600};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(bar);
        l->setObjectName(QStringLiteral("StatusBar_Panel%1").arg(i));
        l->setFixedWidth(widths[size_t(i)]);
        l->setAlignment(i == 0 ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setAccessibleDescription(QStringLiteral("StatusBar.Panels[%1]").arg(i));
        l->setAccessibleName(kPanelNames[size_t(i)] + QStringLiteral(": brak"));
        bar->addWidget(l);
        panels_[size_t(i)] = l;
    }
    // The panels keep their texts; the alarm count stands after them, and
    // stays while any alarm waits for acknowledgement.
    alarmCount_ = new QPushButton(bar);
    alarmCount_->setObjectName(QStringLiteral("StatusBar_Alarmy"));
    alarmCount_->setAccessibleDescription(QStringLiteral("StatusBar_Alarmy"));
    alarmCount_->setStyleSheet(
        QStringLiteral("QPushButton { background-color: #c00000; color: white; font-weight: bold; "
                       "border: 1px solid #800000; padding: 1px 12px; }"));
    bar->addWidget(alarmCount_);
    connect(alarmCount_, &QPushButton::clicked, this, &TQTA504::showAlarmWindow);
    connect(&core.Alarmy, &TAlarmEngine::changed, this, &TQTA504::updateAlarmCount);
    updateAlarmCount();
    // Items shown, hidden, added (the MQTT indicator) or given a longer text.
    bar->installEventFilter(this);
    fitStatusBar();
}

bool TQTA504::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusBar() && event->type() == QEvent::LayoutRequest && !fitPending_) {
        // After the bar has laid its items out anew.
        fitPending_ = true;
        QTimer::singleShot(0, this, [this] {
            fitPending_ = false;
            fitStatusBar();
        });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TQTA504::fitStatusBar() {
    QStatusBar* bar = statusBar();
    const int need = bar->minimumSizeHint().width();
    if (bar->minimumWidth() != need)
        bar->setMinimumWidth(need);
}

void TQTA504::updateAlarmCount() {
    const int n = core.Alarmy.unacknowledgedCount();
    const QString text = unacknowledgedText(n);
    alarmCount_->setText(QStringLiteral("Alarmy: %1").arg(n));
    alarmCount_->setAccessibleName(text);
    alarmCount_->setToolTip(text + QStringLiteral(" – kliknij, aby otworzyć okno Alarmy"));
    alarmCount_->setVisible(n > 0);
}

void TQTA504::showAlarmWindow() {
    TWindowItem* i = windowItem(Widok_Alarmy);
    if (!i)
        return;
    if (!i->isOpen())
        i->open();
    else if (i->window()) {
        if (i->window()->isMinimized())
            i->window()->showNormal();
        mdi_->setActiveSubWindow(i->window());
    }
}

void TQTA504::AlarmSettingsExecute() {
    TAlarmSettingsDialog dialog(core.Alarmy.settings(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TAlarmSettings s = dialog.settings();
    try {
        s.save(core.settingsPath());
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
    core.Alarmy.setSettings(s); // applies for this run even when it could not be saved
}

void TQTA504::RaportExecute() {
    // The program works in its data folder: the report describes that one.
    TRaportDialog dialog(
        core.dataFolder(), [this](const QString& m) { reportError(m); }, QDate::currentDate(),
        this);
    dialog.exec();
}

TWindowItem* TQTA504::windowItem(QAction* action) const {
    for (TWindowItem* i : items_)
        if (i->action() == action)
            return i;
    return nullptr;
}

void TQTA504::setDemoPanelAvailable(bool available) {
    Ustawienia_Demo->setVisible(available);
    Ustawienia_Demo->setEnabled(available);
}

void TQTA504::setWindowFactory(QAction* action, TWindowItem::Factory factory) {
    if (TWindowItem* i = windowItem(action))
        i->setFactory(std::move(factory));
}

// ---------------------------------------------------------------- start and end

void TQTA504::FormCreate() {
    setWindowTitle(QStringLiteral("QTA-504 v. 1.2"));
    try {
        core.openTables();
    } catch (const std::exception& e) {
        // Without its tables the program shows the error and waits: no start
        // window, settings items disabled; "Połącz" still works.
        reportError(QString::fromUtf8(e.what()));
        return;
    }
    showStartWindow();
    core.Timer1.start();
    publishing_ = new TDesktopPublishing(
        core, statusBar(), [this](const QString& m) { reportError(m); }, this);
    if (!publishing_->start()) {
        delete publishing_;
        publishing_ = nullptr;
    }
}

void TQTA504::FormCreateReadOnly(const QString& notice) {
    setWindowTitle(QStringLiteral("QTA-504 v. 1.2 – tylko do odczytu"));
    for (QAction* a :
         {Polaczenie_Polacz, Widok_Program, Ustawienia_Konfiguracja, Ustawienia_Dostosuj,
          Ustawienia_Zegar, Ustawienia_Zabezpieczenia, Ustawienia_Demo, Ustawienia_Alarmy})
        a->setEnabled(false);
    // Without a link the controller's fault signal and description have
    // nothing to show: their room goes to the notice, whole.
    panels_[1]->hide();
    panels_[2]->hide();
    readOnly_ = new QLabel(notice, statusBar());
    readOnly_->setObjectName(QStringLiteral("StatusBar_TylkoDoOdczytu"));
    readOnly_->setAccessibleName(notice);
    readOnly_->setAccessibleDescription(QStringLiteral("StatusBar_TylkoDoOdczytu"));
    statusBar()->addPermanentWidget(readOnly_);
    setStatusPanel(0, QStringLiteral("Tylko do odczytu"));
    try {
        core.openTablesReadOnly();
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

void TQTA504::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        closed_ = true;
        if (start_)
            start_->close();
        mdi_->closeAllSubWindows();
        if (publishing_)
            publishing_->stop(); // offline said before the tables close
        core.closeAll();
    }
    event->accept();
}

bool TQTA504::event(QEvent* e) {
    // Status tips of the menu carry component names for accessibility; they
    // must not overwrite the status panels.
    if (e->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(e);
}

// ---------------------------------------------------------------- TMainView

void TQTA504::setStatusPanel(int panel, const QString& text) {
    if (panel < 0 || panel > 2)
        return;
    QLabel* l = panels_[size_t(panel)];
    if (l->text() == text)
        return;
    l->setText(text);
    l->setAccessibleName(kPanelNames[size_t(panel)] + QStringLiteral(": ") +
                         (text.isEmpty() ? QStringLiteral("brak") : text));
}

QString TQTA504::statusPanel(int panel) const {
    return panel >= 0 && panel <= 2 ? panels_[size_t(panel)]->text() : QString();
}

void TQTA504::setConnectCaption(const QString& caption) { Polaczenie_Polacz->setText(caption); }

bool TQTA504::mimicWindowOpen() const { return Widok_Program->isChecked(); }

void TQTA504::closeMimicWindow() { program_->close(); }

void TQTA504::ShowMain() {
    if (!hasMimicWindow(core.Aktywny_Program))
        return;
    program_->open();
}

void TQTA504::enableSettingsItems() {
    Ustawienia_Konfiguracja->setEnabled(true);
    Ustawienia_Dostosuj->setEnabled(true);
    Ustawienia_Zabezpieczenia->setEnabled(true);
}

void TQTA504::showStartWindow() {
    if (start_)
        start_->close();
    start_ = new TStart(core);
    start_->FormCreate();
    if (start_)
        start_->show();
}

void TQTA504::reportError(const QString& message) { showApplicationError(message); }

// ---------------------------------------------------------------- window menu

void TQTA504::fillWindowMenu() {
    for (QAction* a : windowListActions_) {
        Window1->removeAction(a);
        a->deleteLater();
    }
    windowListActions_.clear();
    const QList<QMdiSubWindow*> subs = mdi_->subWindowList();
    if (subs.isEmpty())
        return;
    QAction* sep = Window1->addSeparator();
    windowListActions_ << sep;
    int n = 1;
    for (QMdiSubWindow* s : subs) {
        QAction* a = Window1->addAction(QStringLiteral("&%1 %2").arg(n++).arg(s->windowTitle()));
        a->setCheckable(true);
        a->setChecked(s == mdi_->activeSubWindow());
        connect(a, &QAction::triggered, mdi_, [this, s] {
            if (s->isMinimized())
                s->showNormal();
            mdi_->setActiveSubWindow(s);
        });
        windowListActions_ << a;
    }
}

namespace {
QList<QMdiSubWindow*> arrangeable(QMdiArea* mdi) {
    QList<QMdiSubWindow*> out;
    for (QMdiSubWindow* s : mdi->subWindowList())
        if (s->isVisible() && !s->isMinimized())
            out << s;
    return out;
}

// Tiles the children one after another along `o`, each across the whole area.
// The mimic windows have frames of a fixed size: given an equal share they
// keep their size and cover their neighbours. So a window that cannot change
// its size along `o` keeps it, the others share the rest, and each window
// starts where the one before it actually ends. When the fixed windows alone
// need more room than the area has, the last ones run past its edge rather
// than cover others.
void tile(QMdiArea* mdi, Qt::Orientation o) {
    const QList<QMdiSubWindow*> subs = arrangeable(mdi);
    if (subs.isEmpty())
        return;
    const bool down = o == Qt::Vertical;
    const auto along = [down](QSize s) { return down ? s.height() : s.width(); };
    const QRect r = mdi->viewport()->rect();
    int fixedRoom = 0, flexible = 0;
    for (QMdiSubWindow* s : subs) {
        s->showNormal();
        if (along(s->minimumSize()) == along(s->maximumSize()))
            fixedRoom += along(s->minimumSize());
        else
            ++flexible;
    }
    const int share = flexible ? std::max(0, along(r.size()) - fixedRoom) / flexible : 0;
    int at = 0;
    for (QMdiSubWindow* s : subs) {
        if (down)
            s->setGeometry(0, at, r.width(), share);
        else
            s->setGeometry(at, 0, share, r.height());
        at += along(s->size()); // as the window's own limits allowed
    }
}
} // namespace

void TQTA504::tileOneAboveOther() { tile(mdi_, Qt::Vertical); }

void TQTA504::tileSideBySide() { tile(mdi_, Qt::Horizontal); }

void TQTA504::minimizeAll() {
    for (QMdiSubWindow* s : mdi_->subWindowList())
        s->showMinimized();
}

// ---------------------------------------------------------------- viewer and About

void TQTA504::FileOpen1Execute() {
    const QString name =
        QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("All files (*.*)"));
    if (!name.isEmpty())
        CreateMDIChild(name);
}

QMdiSubWindow* TQTA504::CreateMDIChild(const QString& name) {
    auto* edit = new QPlainTextEdit;
    edit->setObjectName(QStringLiteral("Memo1"));
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setAccessibleName(QStringLiteral("Treść pliku ") + name);
    edit->setAccessibleDescription(QStringLiteral("Memo1"));
    QFile f(name);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = f.readAll();
        // UTF-8 first; anything else is taken as Windows-1250, the code page
        // of the tables and files of this installation.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(bytes);
        if (utf8.hasError())
            text = fromWindows1250(bytes);
        edit->setPlainText(text);
    }
    auto* sub = new TChildWindow;
    sub->setObjectName(QStringLiteral("MDIChild"));
    sub->setWidget(edit);
    sub->setWindowTitle(name);
    mdi_->addSubWindow(sub);
    sub->show();
    return sub;
}

void TQTA504::HelpAbout1Execute() {
    TAboutBox box(this);
    box.exec();
}

} // namespace qta
