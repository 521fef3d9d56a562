#include "core/startcycle.h"

#include "core/controller.h"
#include "link/portinfo.h"

#include <cerrno>

namespace qta {

TStartCycle::TStartCycle(TQTA504Core& main, TStartView* view, QObject* parent)
    : QObject(parent), main_(main), view_(view) {
    Timer.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, &TStartCycle::TimerTimer);
}

namespace {
const QString kSearching = QStringLiteral("Szukam sterownika");
const QString kIdentifier = QStringLiteral("Odbiór identyfikatora urządzenia");
const QString kConnecting = QStringLiteral("Łączenie z ");
// A network port that failed is tried again this often (the scan's pace
// without a saved port), not at every tick of the stages.
constexpr int kNetworkRetryMs = 1000;
} // namespace

void TStartCycle::FormCreate() {
    if (onlyPort_.isEmpty())
        TComPort::EnumComPorts(ComComboBox);
    else
        ComComboBox = QStringList{onlyPort_};
    TComPort& port = main_.ComPort;
    portNamed_ = !onlyPort_.isEmpty() || !TComPort::savedPort(main_.settingsPath()).isEmpty();
    if (!portNamed_) {
        // No port saved (a first start): the scan names the first one it tries.
        port.LoadSettings(stIniFile, main_.settingsPath()); // line settings only
        view_->setStatusText(kSearching);
        Etap = 0;
        Timer.start();
        return;
    }
    const QString saved =
        onlyPort_.isEmpty() ? TComPort::savedPort(main_.settingsPath()) : onlyPort_;
    if (TComPort::isNetworkPort(saved)) {
        // Not in the system's list: the scan comes back to it at every turn
        // (the configuration's one port is the whole list already).
        if (onlyPort_.isEmpty())
            ComComboBox.prepend(saved);
        port.LoadSettings(stIniFile, main_.settingsPath());
        Timer.setInterval(250);
        tryNetworkPort(saved);
        Timer.start();
        return;
    }
    bool refused = false;
    try {
        port.LoadSettings(stIniFile, main_.settingsPath());
        if (!onlyPort_.isEmpty())
            port.setPort(onlyPort_);
        port.Open();
    } catch (const std::exception& e) {
        refused = accessRefused(e, port.Port());
        port.Close();
    }
    if (port.Connected()) {
        main_.Flaga_Kom.Id = false;
        main_.RS_Identyfikator();
        Timer.setInterval(250);
        Licznik = 0;
        Etap = 1;
        Timer.start();
        view_->setStatusText(kIdentifier);
    } else {
        if (refused)
            view_->setStatusText(QStringLiteral("Brak uprawnień do portu ") + port.Port());
        else
            view_->setStatusText(QStringLiteral("Port ") + port.Port() +
                                 QStringLiteral(" niedostępny"));
        Etap = 0;
        Timer.start();
    }
}

void TStartCycle::TimerTimer() {
    Timer.stop();
    switch (Etap) {
    case 0: stageScan(); break;
    case 1: stageIdentifier(); break;
    case 2: stageConfig(); break;
    case 3: stageCustom(); return; // restarts the timer itself unless the window closed
    default: break;
    }
    Timer.start();
}

bool TStartCycle::accessRefused(const std::exception& e, const QString& port) {
    // The port service reports a refused open as EACCES; a port held by
    // another program is refused the same way, so the device's permissions
    // decide.
    const auto* com = dynamic_cast<const EComPort*>(&e);
    if (!com || com->WinCode != EACCES)
        return false;
    const QString problem = portPermissionProblem(port);
    if (problem.isEmpty())
        return false;
    if (!accessReported_) {
        accessReported_ = true;
        main_.reportErrorFromStart(problem);
    }
    return true;
}

void TStartCycle::appendDot() { view_->setStatusText(view_->statusText() + QLatin1Char('.')); }

bool TStartCycle::tryNetworkPort(const QString& name) {
    TComPort& port = main_.ComPort;
    COM_String = name;
    portNamed_ = true;
    // After a failure its text stays up while the port is tried again, so
    // that the window does not flicker between the attempt and the failure.
    const bool failedBefore = port.Port() == name && !port.failureText().isEmpty();
    if (!failedBefore)
        view_->setStatusText(kConnecting + name);
    try {
        port.setPort(name);
        port.Open();
    } catch (const std::exception&) {
        port.Close();
    }
    if (!port.Connected()) {
        networkFailed();
        return false;
    }
    // The request waits in the port's queue until the connection is up.
    main_.Flaga_Kom.Id = false;
    main_.RS_Identyfikator();
    Licznik = 0;
    Etap = 1;
    awaitingConnection_ = port.Connecting();
    if (!awaitingConnection_)
        view_->setStatusText(kIdentifier);
    return true;
}

void TStartCycle::networkFailed() {
    TComPort& port = main_.ComPort;
    const QString why = port.failureText();
    port.Close();
    main_.Flaga_Kom.OK = false;
    awaitingConnection_ = false;
    view_->setStatusText(why.isEmpty() ? QStringLiteral("Port ") + port.Port() +
                                             QStringLiteral(" niedostępny")
                                       : why);
    ++Indeks;
    Licznik = 0;
    Etap = 0;
    Timer.setInterval(kNetworkRetryMs);
}

bool TStartCycle::networkPending() {
    TComPort& port = main_.ComPort;
    if (!TComPort::isNetworkPort(port.Port()))
        return false;
    if (!port.Connected()) {
        networkFailed();
        return true;
    }
    if (port.Connecting()) {
        if (view_->statusText().startsWith(kConnecting))
            appendDot(); // a failure named before stays as it is while it is tried again
        return true;
    }
    if (awaitingConnection_) {
        // Up: the identifier request has gone out; its ticks count from now.
        awaitingConnection_ = false;
        Licznik = 0;
        view_->setStatusText(kIdentifier);
        return true;
    }
    return false;
}

void TStartCycle::stageScan() {
    TComPort& port = main_.ComPort;
    Ile = int(ComComboBox.size());
    if (Indeks > Ile - 1 && Ile > 0)
        Indeks = 0;
    if (Indeks >= 0 && Indeks < Ile && TComPort::isNetworkPort(ComComboBox.at(Indeks))) {
        tryNetworkPort(ComComboBox.at(Indeks));
        return;
    }
    bool refused = false;
    if (Indeks >= 0 && Indeks < Ile) {
        COM_String = ComComboBox.at(Indeks);
        portNamed_ = true;
        const TPortInfo info = portInfo(COM_String);
        view_->setStatusText(QStringLiteral("Sprawdzam port ") + portLabel(info));
        try {
            // A USB adapter is kept under its stable name, which still leads
            // to it when it comes back as another ttyUSB after a replug.
            // A port the configuration names is used as named.
            port.setPort(info.stableName.isEmpty() || !onlyPort_.isEmpty() ? COM_String
                                                                           : info.stableName);
            port.Open();
        } catch (const std::exception& e) {
            refused = accessRefused(e, COM_String);
            view_->setStatusText(QStringLiteral("PORT ") + COM_String +
                                 QStringLiteral(" niedostępny"));
            port.Close();
        }
    }
    if (port.Connected()) {
        main_.Flaga_Kom.Id = false;
        main_.RS_Identyfikator();
        Etap = 1;
    } else {
        port.Close();
        ++Indeks;
        if (refused)
            view_->setStatusText(QStringLiteral("Brak uprawnień do portu ") + COM_String);
        else if (!portNamed_)
            view_->setStatusText(kSearching);
        else
            view_->setStatusText(QStringLiteral("Port ") + port.Port() +
                                 QStringLiteral(" niedostępny"));
        Etap = 0;
    }
}

void TStartCycle::stageIdentifier() {
    if (!main_.Flaga_Kom.Id && networkPending())
        return;
    awaitingConnection_ = false;
    if (main_.Flaga_Kom.Id) {
        Licznik = 0;
        main_.Flaga_Kom.OK = true;
        main_.Flaga_Kom.Konfig = false;
        main_.RS_ReceiveParam();
        Etap = 2;
        view_->setStatusText(QStringLiteral("Odbiór parametrów konfiguracyjnych"));
    } else if (Licznik >= 4) {
        view_->setStatusText(QStringLiteral("Brak odpowiedzi - szukam dalej"));
        main_.ComPort.Close();
        ++Indeks;
        Licznik = 0;
        Etap = 0;
    } else {
        ++Licznik;
        appendDot();
    }
}

void TStartCycle::stageConfig() {
    if (!main_.Flaga_Kom.Konfig && networkPending())
        return;
    if (main_.Flaga_Kom.Konfig) {
        Licznik = 0;
        main_.Flaga_Kom.Ustawienia = false;
        main_.RS_ReceiveDostosuj();
        Etap = 3;
        view_->setStatusText(QStringLiteral("Odbiór ustawień urządzenia"));
    } else if (Licznik >= 4) {
        main_.RS_ReceiveParam();
        Licznik = 0;
    } else {
        ++Licznik;
        appendDot();
    }
}

void TStartCycle::stageCustom() {
    if (!main_.Flaga_Kom.Ustawienia && networkPending()) {
        Timer.start();
        return;
    }
    if (main_.Flaga_Kom.Ustawienia) {
        try {
            main_.ComPort.StoreSettings(stIniFile, main_.settingsPath());
        } catch (const std::exception& e) {
            // The window stays at this stage with its timer stopped; the user can cancel.
            main_.reportErrorFromStart(QString::fromUtf8(e.what()));
            return;
        }
        if (main_.downloadNeeded())
            main_.armDownload();
        view_->closeWindow();
        return;
    }
    if (Licznik >= 4) {
        main_.RS_ReceiveDostosuj();
        Licznik = 0;
    } else {
        ++Licznik;
        appendDot();
    }
    Timer.start();
}

void TStartCycle::Button1Click() {
    Timer.stop();
    main_.ComPort.Close();
    main_.Flaga_Kom.OK = false;
    view_->closeWindow();
}

} // namespace qta
