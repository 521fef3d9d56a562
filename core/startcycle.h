// The start window's logic: find the controller on the saved port or by
// scanning the port list, then read its identifier, configuration and
// customisation in turn. The window itself only shows the texts. A saved
// network port (tcp://HOST:PORT, rfc2217://HOST:PORT) is tried first and
// again at every turn of the scan; the scan itself tries only the serial
// ports present.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <exception>

namespace qta {

class TQTA504Core;

class TStartView {
public:
    virtual ~TStartView() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    // Closes (and so destroys) the start window.
    virtual void closeWindow() = 0;
};

class TStartCycle : public QObject {
    Q_OBJECT
public:
    TStartCycle(TQTA504Core& main, TStartView* view, QObject* parent = nullptr);

    int Etap = 0;    // 0 scanning, 1 identifier, 2 configuration, 3 customisation
    int Licznik = 0; // ticks spent waiting in the current stage
    int Indeks = 0;  // position in the port list of the port to try next
    int Ile = 0;     // number of ports in the list
    QString COM_String;
    QTimer Timer;
    QStringList ComComboBox; // the hidden port list

    // Fills the port list, loads the settings, opens the saved port.
    void FormCreate();
    // Before FormCreate: try `port` alone, again every second until it
    // answers, instead of the saved port and the scan of the ports present
    // (the collector, whose configuration names each controller's port).
    void setOnlyPort(const QString& port) { onlyPort_ = port; }
    void TimerTimer();
    // "Anuluj" or Esc.
    void Button1Click();

private:
    void stageScan();
    void stageIdentifier();
    void stageConfig();
    void stageCustom();
    void appendDot();
    // A network port (tcp://, rfc2217://) is tried as the start-up tried it,
    // and its failure is named; the scan never looks for one on the network.
    bool tryNetworkPort(const QString& name);
    // The open network port has failed (or was never up): says why and lets
    // the scan go on, at the scan's own pace.
    void networkFailed();
    // Whether the stage must wait for (or give up on) the network port
    // rather than count a tick; true when it has dealt with the tick.
    bool networkPending();
    // After a failed open: whether the port exists but this user may not use
    // it. The explanation (which group to join) is reported once per window.
    bool accessRefused(const std::exception& e, const QString& port);

    TQTA504Core& main_;
    TStartView* view_;
    bool accessReported_ = false;
    // A port has a name to speak of: the settings named one, or the scan has
    // reached one. Until then the window says nothing about any port.
    bool portNamed_ = false;
    QString onlyPort_;
    // The identifier request waits in the network port's queue for the
    // connection; the stage's ticks count from the moment it is up.
    bool awaitingConnection_ = false;
};

} // namespace qta
