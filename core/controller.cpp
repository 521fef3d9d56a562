#include "core/controller.h"

#include "link/eventrecord.h"
#include "settings/controllerfile.h"
#include "tables/table.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>

namespace qta {

namespace {
const QString kConnected = QStringLiteral("Połączono z QTA504 - v. ");
const QString kLost = QStringLiteral("Brak połączenia...");
const QString kLostRetry = QStringLiteral("Brak połączenia..");
const QString kConnect = QStringLiteral("Połącz");
const QString kDisconnect = QStringLiteral("Rozłącz");

constexpr std::array<const char*, 9> kLiniaFields = {"N1L1", "N1L2", "N1L3", "N2L1", "N2L2",
                                                     "N2L3", "N3L1", "N3L2", "N3L3"};
} // namespace

TQTA504Core::TQTA504Core(TMainView* view, QObject* parent) : QObject(parent), view_(view) {
    ComPort.OnRxChar = [this](QObject* sender, int count) { ComPortRxChar(sender, count); };
    // A network port says why it was lost (refused, dropped by the server ...)
    // at once; the watchdog then retries as for a serial port.
    connect(&ComPort, &TComPort::lost, this, [this] {
        if (Flaga_Kom.OK && !ComPort.failureText().isEmpty())
            view_->setStatusPanel(0, kLost + u' ' + ComPort.failureText());
    });

    Timer1.setInterval(2000);
    Timer2.setInterval(3000);
    Timer3.setInterval(1000);
    Timer4.setInterval(1000);
    Timer5.setInterval(1000);
    Timer5.setSingleShot(true); // every tick disables it: one tick per arming
    RecordTimeout.setInterval(kRecordReplyTimeoutMs);
    RecordTimeout.setSingleShot(true);

    connect(&Timer1, &QTimer::timeout, this, &TQTA504Core::Timer1Timer);
    connect(&Timer2, &QTimer::timeout, this, &TQTA504Core::Timer2Timer);
    connect(&Timer3, &QTimer::timeout, this, &TQTA504Core::Timer3Timer);
    connect(&Timer4, &QTimer::timeout, this, &TQTA504Core::Timer4Timer);
    connect(&Timer5, &QTimer::timeout, this, &TQTA504Core::Timer5Timer);
    connect(&RecordTimeout, &QTimer::timeout, this, &TQTA504Core::onRecordTimeout);
    LiniaSync.setInterval(kLiniaSyncMs);
    connect(&LiniaSync, &QTimer::timeout, this, [this] {
        try {
            if (linia_ && linia_->Active())
                linia_->Sync();
        } catch (const std::exception& e) {
            reportTableFailure(liniaFailReported_, QString::fromUtf8(e.what()));
        }
    });

    // Timer2 and Timer3 run from the start; Timer1 is enabled by the main window.
    Timer2.start();
    Timer3.start();
}

TQTA504Core::~TQTA504Core() = default;

void TQTA504Core::setDataFolder(const QString& folder) {
    dataFolder_ = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

QString TQTA504Core::dataFolder() const {
    return dataFolder_.isEmpty() ? QDir::currentPath() : dataFolder_;
}

QString TQTA504Core::dataPath(const QString& name) const {
    if (dataFolder_.isEmpty())
        return rejestrPath(name);
    return QDir::cleanPath(dataFolder_ + QLatin1String("/rejestr/") + name);
}

QString TQTA504Core::settingsPath() const { return dataPath(QStringLiteral("ustawienia.ini")); }

QString TQTA504Core::controllerFilePath() const { return dataPath(kControllerFileName); }

// ---------------------------------------------------------------- tables

void TQTA504Core::openTables() {
    rejestr_ = std::make_unique<TTable>(dataPath(QStringLiteral("rejestr.dbf")));
    rejestr_->Open();
    const int last = lastStoredIndex(); // moves to the last row and reads its INDEKS
    Konfig.Baza_Last_Rekord = last < 0 ? 0 : last;

    linia_ = std::make_unique<TTable>(dataPath(QStringLiteral("linia.dbf")));
    linia_->Open();
    // A row a second: synced every few seconds rather than at every row.
    linia_->setSyncEveryPost(false);
    LiniaSync.start();
    linia_->Last();
    appendLiniaRow({});

    QStringList problems;
    Alarmy.setSettings(TAlarmSettings::load(settingsPath(), &problems));
    if (!problems.isEmpty())
        view_->reportError(QStringLiteral("Ustawienia alarmów w %1: %2")
                               .arg(settingsPath(), problems.join(QStringLiteral("; "))));
    try {
        auto journal = std::make_unique<TAlarmJournal>(dataPath(QStringLiteral("alarmy.dbf")));
        journal->open();
        Alarmy.setJournal(journal.get());
        alarmJournal_ = std::move(journal);
        Alarmy.restore();
    } catch (const std::exception& e) {
        Alarmy.setJournal(nullptr);
        alarmJournal_.reset();
        view_->reportError(QString::fromUtf8(e.what()));
    }
}

void TQTA504Core::openTablesReadOnly() {
    readOnly_ = true;
    Timer2.stop(); // no watchdog: this program never opens the port
    rejestr_ = std::make_unique<TTable>(dataPath(QStringLiteral("rejestr.dbf")));
    rejestr_->OpenReadOnly();
    const int last = lastStoredIndex();
    Konfig.Baza_Last_Rekord = last < 0 ? 0 : last;
    linia_ = std::make_unique<TTable>(dataPath(QStringLiteral("linia.dbf")));
    linia_->OpenReadOnly();
    linia_->Last();

    Alarmy.setSettings(TAlarmSettings::load(settingsPath()));
    openAlarmJournalReadOnly();
    ReadOnlyFollow.setInterval(kReadOnlyFollowMs);
    connect(&ReadOnlyFollow, &QTimer::timeout, this, &TQTA504Core::followReadOnly,
            Qt::UniqueConnection);
    ReadOnlyFollow.start();
}

void TQTA504Core::openAlarmJournalReadOnly() {
    const QString journal = dataPath(QStringLiteral("alarmy.dbf"));
    if (!QFileInfo::exists(journal))
        return; // the writer makes it; the follow opens it then
    try {
        auto j = std::make_unique<TAlarmJournal>(journal);
        j->openReadOnly();
        Alarmy.setJournal(j.get());
        alarmJournal_ = std::move(j);
        Alarmy.restore();
    } catch (const std::exception& e) {
        Alarmy.setJournal(nullptr);
        alarmJournal_.reset();
        alarmFollowFailed_ = true;
        view_->reportError(QString::fromUtf8(e.what()));
    }
}

void TQTA504Core::followReadOnly() {
    // The rows the writer has appended since: the windows learn of them as
    // they would of rows this program wrote.
    try {
        const int events = rejestr_ ? rejestr_->RecordCount() : 0;
        const int rows = linia_ ? linia_->RecordCount() : 0;
        if (rejestr_ && rejestr_->Active())
            rejestr_->Refresh();
        if (linia_ && linia_->Active())
            linia_->Refresh();
        if (rejestr_ && rejestr_->RecordCount() > events) {
            const int last = lastStoredIndex();
            Konfig.Baza_Last_Rekord = last < 0 ? 0 : last;
            Q_EMIT eventRowAppended(Konfig.Baza_Last_Rekord);
        }
        if (linia_ && linia_->RecordCount() > rows)
            Q_EMIT statusRowAppended();
    } catch (const std::exception& e) {
        reportTableFailure(liniaFailReported_, QString::fromUtf8(e.what()));
    }
    // The alarms as the writer journals them: an acknowledgement made there
    // (the collector's console, MQTT) shows here within the follow period.
    // A journal that failed to open is not tried again (it was reported).
    if (!alarmJournal_ && !alarmFollowFailed_) {
        openAlarmJournalReadOnly();
        return;
    }
    try {
        if (alarmJournal_)
            Alarmy.follow();
    } catch (const std::exception& e) {
        reportTableFailure(alarmFollowReported_, QString::fromUtf8(e.what()));
    }
}

void TQTA504Core::closeAll() {
    ReadOnlyFollow.stop();
    Timer1.stop();
    Timer2.stop();
    Timer4.stop();
    Timer5.stop();
    RecordTimeout.stop();
    LiniaSync.stop();
    Relink.cancel();
    QString error;
    Alarmy.setJournal(nullptr);
    if (alarmJournal_)
        alarmJournal_->close();
    if (rejestr_)
        rejestr_->Close();
    if (linia_ && linia_->Active() && !readOnly_) {
        try {
            appendLiniaRow({});
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
    }
    if (linia_)
        linia_->Close();
    ComPort.Close();
    if (!error.isEmpty())
        view_->reportError(error);
}

int TQTA504Core::lastStoredIndex() const {
    if (!rejestr_ || !rejestr_->Active() || rejestr_->RecordCount() == 0)
        return -1;
    try {
        rejestr_->Last();
        const qint64 v = rejestr_->FieldByName(QStringLiteral("INDEKS")).asInteger();
        return v < 0 || v > 65535 ? -1 : int(v);
    } catch (const ETable&) {
        return -1;
    }
}

void TQTA504Core::appendLiniaRow(const std::array<int, 9>& u) {
    if (!linia_)
        throw ETable(QStringLiteral("Tabela linia.dbf nie jest otwarta"));
    linia_->Append();
    linia_->FieldByName(QStringLiteral("CZAS")).setAsDateTime(QDateTime::currentDateTime());
    for (size_t i = 0; i < kLiniaFields.size(); ++i)
        linia_->FieldByName(QLatin1String(kLiniaFields[i])).setAsInteger(u[i]);
    linia_->Post();
}

void TQTA504Core::reportTableFailure(bool& reported, const QString& message) {
    // A failing table is reported once; status replies come every second and
    // would otherwise stack error boxes without end.
    if (reported)
        return;
    reported = true;
    view_->reportError(message);
}

// ---------------------------------------------------------------- requests

void TQTA504Core::send(const QByteArray& frame, bool needOk) {
    if ((needOk && !Flaga_Kom.OK) || !ComPort.Connected())
        return;
    try {
        ComPort.TransmitBytes(frame);
    } catch (const EComPort&) {
        Flaga_Kom.OK = false; // stops the requests and the watchdog until reconnected
    }
}

void TQTA504Core::RS_ReceiveParam() { send(buildFrame(TxAskConfig), true); }
void TQTA504Core::RS_ReceiveDostosuj() { send(buildFrame(TxAskCustom), true); }
void TQTA504Core::RS_Identyfikator() { send(buildFrame(TxAskIdentifier), false); }
void TQTA504Core::RS_RequestRecord(int numer) { send(recordRequest(numer), true); }

// ---------------------------------------------------------------- receive path

void TQTA504Core::ComPortRxChar(QObject*, int count) {
    QByteArray bytes;
    const int n = ComPort.ReadStr(bytes, count);
    if (n > 0)
        receiveBytes(bytes);
}

void TQTA504Core::receiveBytes(const QByteArray& bytes) {
    if (Rx.feed(bytes))
        postFrameComplete();
}

void TQTA504Core::postFrameComplete() {
    // The handler runs after the receive event has returned.
    QMetaObject::invokeMethod(this, &TQTA504Core::COM_Rx_Complete, Qt::QueuedConnection);
}

void TQTA504Core::COM_Rx_Complete() {
    if (!Rx.complete())
        return;
    const int code = Rx.code();
    QString error;
    try {
        Timer2.stop();
        Timer2.setInterval(1500);
        Timer2.start();
        UART_Connect = true;
        view_->setConnectCaption(kDisconnect);
        view_->setStatusPanel(0, kConnected + Konfig.Id);
        Alarmy.linkUp();
        if (linkLost_ && Flaga_Kom.OK) {
            // Back after a loss: whatever answers now is read again.
            linkLost_ = false;
            Relink.start();
        }

        switch (code) {
        case RxStatus: decodeStatus(); break;
        case RxConfig: decodeConfig(); break;
        case RxRecord: decodeRecord(); break;
        case RxCustom: decodeCustom(); break;
        case RxIdentifier: decodeIdentifier(); break;
        case RxNewest: decodeNewest(); break;
        default: break;
        }
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    // Re-armed whatever happened above; bytes held meanwhile are fed now.
    const bool another = Rx.rearm();
    if (another)
        postFrameComplete();
    if (!error.isEmpty())
        view_->reportError(error);
    Q_EMIT frameHandled(code);
}

void TQTA504Core::decodeStatus() {
    const int previous = Aktywny_Program;
    std::array<int, 9> u{};
    for (int i = 0; i < 9; ++i)
        u[i] = Rx.word(2 * i);
    for (int n = 1; n <= 3; ++n) {
        TLinia1& l = linia(n);
        for (int k = 1; k <= 3; ++k)
            l.U[k] = u[(n - 1) * 3 + k - 1];
        const int faults = Rx.payload(17 + n);
        for (int k = 1; k <= 3; ++k) {
            l.Error_Min[k] = (faults >> (k - 1)) & 1 ? -1 : 0;
            l.Error_Max[k] = (faults >> (k + 2)) & 1 ? -1 : 0;
        }
    }
    Aktywny_Program = Rx.payload(21) >> 4;
    Aktywna_Linia = Rx.payload(21) & 0x0F;
    const int states = Rx.payload(22);
    Linia_1.Status = (states >> 4) & 3;
    Linia_2.Status = (states >> 2) & 3;
    Linia_3.Status = states & 3;
    Konfig.Awaria = Rx.payload(23);

    if (Konfig.Awaria != 0) {
        view_->setStatusPanel(1, Tykacz ? QStringLiteral("Awaria !") : QString());
        QString texts;
        if (Konfig.Awaria & 0x01)
            texts += QStringLiteral("Brak napięcia na linii wyjściowej, ");
        if (Konfig.Awaria & 0x02)
            texts += QStringLiteral("Brak dobrych linii zasilających");
        if (Konfig.Awaria & 0x04)
            texts += QStringLiteral("Załączenie generatora");
        if (Konfig.Awaria & 0x80)
            texts += QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
        view_->setStatusPanel(2, texts);
    } else {
        view_->setStatusPanel(1, QString());
        view_->setStatusPanel(2, QString());
    }

    Alarmy.status(Konfig.Awaria, Flaga_Kom.Konfig ? Konfig.Progr : Aktywny_Program, Aktywna_Linia,
                  {Linia_1.Status, Linia_2.Status, Linia_3.Status});

    // The voltage row; a failing table must not stop the rest of the frame.
    try {
        appendLiniaRow(u);
        liniaFailReported_ = false;
        Q_EMIT statusRowAppended();
    } catch (const std::exception& e) {
        reportTableFailure(liniaFailReported_, QString::fromUtf8(e.what()));
    }

    if (Aktywny_Program != previous && view_->mimicWindowOpen()) {
        view_->closeMimicWindow();
        view_->showMain();
    }
}

void TQTA504Core::decodeConfig() {
    for (int n = 1; n <= 3; ++n) {
        TLinia& l = Konfig.Linia[n];
        const int base = (n - 1) * 6;
        l.Umin = Rx.word(base);
        l.Umax = Rx.word(base + 2);
        l.Histereza = Rx.word(base + 4);
    }
    Konfig.Kwal_ON = Rx.word(18);
    Konfig.Kwal_OFF = Rx.word(20);
    Konfig.Przelaczanie = Rx.word(22);
    Konfig.Uzbrajanie = Rx.word(24) / 10.0;
    Konfig.Rozbrajanie = Rx.word(26) / 10.0;
    Konfig.Przerwa = Rx.word(28) / 10.0;
    const int mode = Rx.payload(30);
    Konfig.Aparat = (mode & 0x80) != 0;
    Konfig.Progr = (mode >> 3) & 0x0F;
    Konfig.Linia_Glowna = mode & 0x07;
    const int shed = Rx.payload(31);
    Konfig.Linia[1].Zrzut = (shed & 0x10) != 0;
    Konfig.Linia[2].Zrzut = (shed & 0x04) != 0;
    Konfig.Linia[3].Zrzut = (shed & 0x01) != 0;
    Konfig.Czas_Zrzutu = Rx.word(32);
    Flaga_Kom.Konfig = true;
    // A configuration read again on its own (after an editor closed) keeps
    // the file up to date; within a full read the customisation completes it.
    if (!readOpen_ && Flaga_Kom.Id && Flaga_Kom.Ustawienia)
        storeController();
}

void TQTA504Core::decodeCustom() {
    const int flags = Rx.payload(0);
    Konfig.Kontrola_On = (flags & 0x80) != 0;
    Konfig.PIN_On = (flags & 0x40) != 0;
    Konfig.Buczek_On = (flags & 0x20) != 0;
    Konfig.Podsw_On = (flags & 0x10) != 0;
    Konfig.Rejestr_On = (flags & 0x08) != 0;
    Konfig.Kontrola_Opozn = Rx.word(1);
    Konfig.Buczek_Czas = Rx.word(3);
    Konfig.Podsw_Czas = Rx.word(5);
    Konfig.Podsw_Jasnosc = Rx.payload(7);
    Konfig.PIN_Numer = Rx.word(8);
    Flaga_Kom.Ustawienia = true;
    if (Flaga_Kom.Id && Flaga_Kom.Konfig) {
        readOpen_ = false;
        storeController();
    }
}

void TQTA504Core::decodeIdentifier() {
    Konfig.Id.clear();
    for (int i = 0; i < 6; ++i)
        Konfig.Id.append(QChar(ushort(Rx.payload(i))));
    Konfig.QTA_Last_Rekord = Rx.word(6);
    Flaga_Kom.Id = true;
    readOpen_ = true;
}

void TQTA504Core::storeController() {
    // Without its tables the program has no data folder to describe.
    if (!rejestr_ || !rejestr_->Active())
        return;
    try {
        writeControllerFile(controllerFilePath(), Konfig, Konfig.Id);
        controllerFileFailReported_ = false;
        Q_EMIT controllerStored();
    } catch (const std::exception& e) {
        reportTableFailure(controllerFileFailReported_, QString::fromUtf8(e.what()));
    }
}

void TQTA504Core::decodeNewest() {
    Konfig.QTA_Last_Rekord = Rx.word(0);
    if (downloadNeeded())
        armDownload(downloadIntervalMs);
}

// ---------------------------------------------------------------- timers

void TQTA504Core::Timer1Timer() {
    if (!Flaga_Kom.OK)
        return;
    view_->enableSettingsItems();
    view_->showMain();
    Timer1.stop();
}

void TQTA504Core::Timer2Timer() {
    if (!Flaga_Kom.OK)
        return;
    // No frame for the watchdog's period: whatever answers next is read anew.
    if (!linkLost_)
        Alarmy.linkLost();
    linkLost_ = true;
    Relink.cancel();
    if (Port) {
        if (ComPort.Connecting())
            return; // a network port gets its connect time (it then is up or fails)
        ComPort.Close();
        view_->setStatusPanel(0, lostText(kLost));
        Timer2.setInterval(1000);
        Timer2.start();
        Port = false;
        UART_Connect = false;
        view_->setConnectCaption(kConnect);
        return;
    }
    try {
        ComPort.Open();
        ComPort.LoadSettings(stIniFile, settingsPath());
        Port = true;
    } catch (const std::exception&) {
        ComPort.Close();
        view_->setStatusPanel(0, lostText(kLostRetry));
        UART_Connect = false;
    }
}

QString TQTA504Core::lostText(const QString& text) const {
    const QString why = ComPort.failureText(); // a network port's reason; none for a serial one
    return why.isEmpty() ? text : text + u' ' + why;
}

void TQTA504Core::Timer3Timer() { Tykacz = !Tykacz; }

void TQTA504Core::requestReread(int what) {
    if (what != 1 && what != 2)
        return;
    if (Czytaj_Parametry == 0)
        Czytaj_Parametry = what;
    else if (Czytaj_Parametry != what &&
             std::find(rereads_.begin(), rereads_.end(), what) == rereads_.end())
        rereads_.push_back(what);
    Timer4.setInterval(1000);
    Timer4.start(); // a second after the last close
}

void TQTA504Core::Timer4Timer() {
    if (Czytaj_Parametry == 1)
        RS_ReceiveParam();
    else if (Czytaj_Parametry == 2)
        RS_ReceiveDostosuj();
    Czytaj_Parametry = 0;
    Timer4.stop();
    if (!rereads_.empty()) {
        // The next one after the reply had time to come, not on top of the request.
        Czytaj_Parametry = rereads_.front();
        rereads_.erase(rereads_.begin());
        Timer4.setInterval(kRereadGapMs);
        Timer4.start();
    }
}

void TQTA504Core::Polaczenie_PolaczClick() {
    if (readOnly_)
        return; // the port belongs to the program that writes the folder
    if (UART_Connect) {
        ComPort.Close();
        Timer2.stop();
        Relink.cancel();
        linkLost_ = false; // "Połącz" starts over with the start window
        Alarmy.linkClosed();
        UART_Connect = false;
        view_->setConnectCaption(kConnect);
    } else {
        view_->showStartWindow();
        view_->setConnectCaption(kDisconnect);
    }
}

} // namespace qta
