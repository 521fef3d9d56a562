// The heart of the main window without its widgets: the controller state, the
// serial port and receiver, the two tables, the five timers, the reply handler,
// the event-log download and the link watchdog. The main window owns one and
// implements TMainView for the effects on windows.
#pragma once

#include "alarms/alarmengine.h"
#include "core/relink.h"
#include "link/comport.h"
#include "link/frame.h"
#include "link/model.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace qta {

class TTable;

// What the core asks of the main window.
class TMainView {
public:
    virtual ~TMainView() = default;
    virtual void setStatusPanel(int panel, const QString& text) = 0;
    virtual QString statusPanel(int panel) const = 0;
    virtual void setConnectCaption(const QString& caption) = 0;
    // The "Program" item is checked: a mimic window is open.
    virtual bool mimicWindowOpen() const = 0;
    // Closes the open mimic window (whatever its program).
    virtual void closeMimicWindow() = 0;
    // Opens the mimic window of Aktywny_Program (nothing for a program without one).
    virtual void showMain() = 0;
    // Enables "&Konfiguracja", "&Dostosuj" and "Zabezpieczenia".
    virtual void enableSettingsItems() = 0;
    // Creates and shows a new start window.
    virtual void showStartWindow() = 0;
    // The program's general handling of unexpected errors.
    virtual void reportError(const QString& message) = 0;
};

// A main window that does nothing the core asks: for the tools and
// benchmarks that run the core without windows.
class TNullView : public TMainView {
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

class TQTA504Core : public QObject {
    Q_OBJECT
public:
    explicit TQTA504Core(TMainView* view, QObject* parent = nullptr);
    ~TQTA504Core() override;

    // --- controller state (read directly by every window) ---
    TKonf Konfig;
    TLinia1 Linia_1, Linia_2, Linia_3;
    TFlaga_Kom Flaga_Kom;
    int Aktywny_Program = 0;
    int Aktywna_Linia = 0;
    bool UART_Connect = false;
    bool Port = false; // watchdog phase: true = it (re)opened the port and waits
    bool Tykacz = false;
    // The settings read next by Timer4 (1 configuration, 2 customisation), 0
    // when none; further ones wait in order behind it.
    int Czytaj_Parametry = 0;
    // Asks for `what` (1 or 2) to be read again a second from now; every
    // read asked for is served, one per tick, in the order asked.
    void requestReread(int what);

    TLinia1& linia(int n) { return n == 1 ? Linia_1 : n == 2 ? Linia_2 : Linia_3; }
    const TLinia1& linia(int n) const { return n == 1 ? Linia_1 : n == 2 ? Linia_2 : Linia_3; }

    // --- components ---
    TComPort ComPort;
    TReceiver Rx;
    QTimer Timer1, Timer2, Timer3, Timer4, Timer5;
    TTable* Rejestr() const { return rejestr_.get(); }
    TTable* Linia() const { return linia_.get(); }

    // Start-up: opens rejestr.dbf (Baza_Last_Rekord from its last row) and
    // linia.dbf, appends the start row of zero voltages. Raises on failure; the
    // tables opened so far stay open. Then the alarm settings are read and
    // the alarm journal alarmy.dbf is opened (made when missing) and its
    // unfinished alarms restored; a failure there is reported, not raised:
    // the alarms then run without their journal.
    void openTables();
    // The history of a data folder that another program (the collector)
    // writes: the three tables opened for reading only and followed every
    // few seconds, the alarms as the journal has them. Nothing is written,
    // no start or end row, and the port is never opened. Raises like openTables.
    void openTablesReadOnly();
    bool readOnly() const { return readOnly_; }
    static constexpr int kReadOnlyFollowMs = 5000;
    QTimer ReadOnlyFollow;
    // Shut-down: closes the event log, appends the end row of zeros to the
    // voltage table and closes it, closes the port.
    void closeAll();

    // Requests (guards: OK and an open port; the identifier only needs the port).
    void RS_ReceiveParam();
    void RS_ReceiveDostosuj();
    void RS_Identyfikator();
    void RS_RequestRecord(int numer);

    // Receive path.
    void ComPortRxChar(QObject* sender, int count);
    // Feeds received bytes to the receiver and posts the frame-complete call.
    void receiveBytes(const QByteArray& bytes);
    void COM_Rx_Complete();

    // Timer handlers.
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Timer5Timer();

    // "Połącz" / "Rozłącz".
    void Polaczenie_PolaczClick();

    // The local event log lacks records the controller holds.
    bool downloadNeeded() const;
    // Arms the download with the timer's current interval (the start window's arming).
    void armDownload();

    // The event code (byte 5 of the record) of the last event row this run
    // appended; -1 until one is (the table keeps the text, not the code).
    int lastEventCode = -1;

    // Index of the record the download waits for, -1 when none.
    int requestedRecord() const { return requested_; }

    // Between two re-reads served by Timer4.
    static constexpr int kRereadGapMs = 300;
    // Lost-reply retry of the download (2 s, up to 3 times).
    static constexpr int kRecordReplyTimeoutMs = 2000;
    static constexpr int kRecordRetries = 3;
    // Interval of the download ticks after the first arming.
    int downloadIntervalMs = 500;
    QTimer RecordTimeout;
    // Voltage rows reach the disk at least this often (event rows at every post).
    static constexpr int kLiniaSyncMs = 10000;
    QTimer LiniaSync;
    // Reads the controller again once the watchdog has brought a lost link back.
    TRelink Relink{*this};
    // The controller's alarms, fed by the status replies and the watchdog;
    // journaled in rejestr/alarmy.dbf once openTables has opened it.
    TAlarmEngine Alarmy;
    TAlarmJournal* alarmJournal() const { return alarmJournal_.get(); }

    // Errors of the start window go to the same general handling.
    void reportErrorFromStart(const QString& message) { view_->reportError(message); }
    // The application's error box, for the child windows.
    void reportError(const QString& message) { view_->reportError(message); }

    // The data folder this core works in: its rejestr/ holds the tables and
    // settings files. Empty (the default) means the current directory at the
    // moment a file is named, as the desktop program has always worked; the
    // collector gives each of its cores a folder of its own. Set it before
    // openTables.
    void setDataFolder(const QString& folder);
    QString dataFolder() const;
    // `name` inside the data folder's rejestr/ ("linia.dbf").
    QString dataPath(const QString& name) const;
    // Settings file path (rejestr/ustawienia.ini in the data folder).
    QString settingsPath() const;
    // What the data folder knows of its controller (rejestr/sterownik.ini):
    // rewritten after every complete read of identifier, configuration and
    // customisation while the tables are open.
    QString controllerFilePath() const;

Q_SIGNALS:
    // A frame has been handled (tests and views follow the link with it).
    void frameHandled(int code);
    void eventRowAppended(int indeks);
    // Emitted (directly) just before an event row is appended, so that a
    // remark being edited reaches its row first.
    void eventRowAboutToAppend();
    void statusRowAppended();
    // rejestr/sterownik.ini has been written after a complete read.
    void controllerStored();

private:
    void postFrameComplete();
    void decodeStatus();
    void decodeConfig();
    void decodeCustom();
    void decodeIdentifier();
    void decodeNewest();
    void decodeRecord();
    void send(const QByteArray& frame, bool needOk);
    void appendLiniaRow(const std::array<int, 9>& u);
    void armDownload(int intervalMs);
    void requestNext();
    void onRecordTimeout();
    // INDEKS of the last row of the event log, or -1 when there is none.
    int lastStoredIndex() const;
    void reportTableFailure(bool& reported, const QString& message);
    // Writes sterownik.ini once identifier, configuration and customisation
    // are all known from this read.
    void storeController();
    // The watchdog's text, with why a network port was lost when it says.
    QString lostText(const QString& text) const;

    TMainView* view_;
    QString dataFolder_; // absolute; empty: the current directory
    std::unique_ptr<TTable> rejestr_;
    std::unique_ptr<TTable> linia_;
    std::unique_ptr<TAlarmJournal> alarmJournal_;
    bool posted_ = false;
    bool readOnly_ = false;
    void followReadOnly();
    void openAlarmJournalReadOnly();
    bool alarmFollowFailed_ = false;   // the journal could not be opened (reported)
    bool alarmFollowReported_ = false; // a failed follow of the journal, said once
    bool linkLost_ = false;            // the watchdog has dropped the link since it was last read
    bool liniaFailReported_ = false;
    bool rejestrFailReported_ = false;
    bool controllerFileFailReported_ = false;
    // An identifier reply opens a read that the customisation reply completes
    // (start window, re-read after a lost link); a configuration in between
    // is part of it, not a read of its own.
    bool readOpen_ = false;
    int requested_ = -1;
    std::vector<int> rereads_; // pending re-reads after Czytaj_Parametry
    int retries_ = 0;
};

} // namespace qta
