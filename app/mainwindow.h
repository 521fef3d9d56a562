// The frame of the program: menu, three-panel status bar, the child windows,
// and the controller state (held by its core).
#pragma once

#include "app/publishing.h"
#include "app/startwindow.h"
#include "app/windowitem.h"
#include "core/controller.h"

#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <functional>

namespace qta {

class TQTA504 : public QMainWindow, public TMainView {
    Q_OBJECT
public:
    explicit TQTA504(QWidget* parent = nullptr);
    ~TQTA504() override;

    // The controller state and link; child windows get it passed in.
    TQTA504Core core;

    // Opens the tables, appends the start row, shows the start window and
    // enables Timer1. A table that cannot be opened stops it there.
    void FormCreate();
    // Instead of FormCreate when the collector writes the folder: the tables
    // read-only, everything that writes to the controller or the tables
    // disabled, and `notice` in the status bar.
    void FormCreateReadOnly(const QString& notice);
    QLabel* readOnlyLabel() const { return readOnly_; }
    // Publishing over MQTT, when the settings file switches it on (else null).
    TDesktopPublishing* publishing() const { return publishing_; }

    // Opens the mimic window of the current program (nothing when it has none).
    void ShowMain();

    // Menu.
    QAction* Polaczenie_Polacz = nullptr;
    QAction* Polaczenie_Raport = nullptr;
    QAction* Polaczenie_Exit = nullptr;
    QAction* Widok_Program = nullptr;
    QAction* Widok_Rejestr = nullptr;
    QAction* Widok_N1 = nullptr;
    QAction* Widok_N2 = nullptr;
    QAction* Widok_N3 = nullptr;
    QAction* Widok_Alarmy = nullptr;
    QAction* Ustawienia_Konfiguracja = nullptr;
    QAction* Ustawienia_Dostosuj = nullptr;
    QAction* Ustawienia_Zegar = nullptr;
    QAction* Ustawienia_Zabezpieczenia = nullptr;
    QAction* Ustawienia_Demo = nullptr;
    QAction* Ustawienia_Alarmy = nullptr;
    QAction* WindowCascadeItem = nullptr;
    QAction* WindowTileItem = nullptr;
    QAction* WindowTileItem2 = nullptr;
    QAction* WindowMinimizeItem = nullptr;
    QAction* HelpAboutItem = nullptr;
    QAction* FileOpen1 = nullptr;
    QMenu* Window1 = nullptr;

    QMdiArea* mdiArea() const { return mdi_; }
    // The status-bar button with the count of unacknowledged alarms (hidden
    // while there are none); it opens "Alarmy".
    QPushButton* alarmCount() const { return alarmCount_; }
    // Opens "Alarmy", or brings it forward when it is open.
    void showAlarmWindow();
    // "Alarmy – ustawienia": the dialog, modal; "OK" saves and applies.
    void AlarmSettingsExecute();
    // "Raport…": the report dialog over the working folder, modal.
    void RaportExecute();
    TStart* startWindow() const { return start_; }

    // Shows and enables the "Demo" item (hidden and disabled otherwise).
    void setDemoPanelAvailable(bool available);

    // The window item behind a menu action (nullptr for other actions).
    TWindowItem* windowItem(QAction* action) const;
    TWindowItem* programItem() const { return program_; }

    // Creates the content of the mimic window of a program (nullptr: none).
    // Set by the mimic subsystem; tests may replace it.
    std::function<QWidget*(int program)> mimicFactory;
    // Contents of the other window items, by action (nullptr: not built yet).
    void setWindowFactory(QAction* action, TWindowItem::Factory factory);

    // TMainView
    void setStatusPanel(int panel, const QString& text) override;
    QString statusPanel(int panel) const override;
    void setConnectCaption(const QString& caption) override;
    bool mimicWindowOpen() const override;
    void closeMimicWindow() override;
    void showMain() override { ShowMain(); }
    void enableSettingsItems() override;
    void showStartWindow() override;
    void reportError(const QString& message) override;

    // The text viewer.
    void FileOpen1Execute();
    QMdiSubWindow* CreateMDIChild(const QString& name);
    void HelpAbout1Execute();

    // Window menu.
    void tileOneAboveOther();
    void tileSideBySide();
    void minimizeAll();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addItem(QMenu* menu, const QString& caption, const char* component,
                     const QString& accessibleName);
    void buildMenu();
    void buildStatusBar();
    // The window is never narrower than the status bar's visible items side
    // by side, so that none of them covers another.
    void fitStatusBar();
    void fillWindowMenu();

    QMdiArea* mdi_ = nullptr;
    std::array<QLabel*, 3> panels_{};
    QPushButton* alarmCount_ = nullptr;
    QLabel* readOnly_ = nullptr;
    TDesktopPublishing* publishing_ = nullptr;
    void updateAlarmCount();
    std::vector<TWindowItem*> items_;
    TWindowItem* program_ = nullptr;
    QPointer<TStart> start_;
    QList<QAction*> windowListActions_;
    bool closed_ = false;
    bool fitPending_ = false;
};

} // namespace qta
