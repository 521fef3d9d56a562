#include "core/relink.h"

#include "core/controller.h"

namespace qta {

TRelink::TRelink(TQTA504Core& main, QObject* parent) : QObject(parent), main_(main) {
    Timer.setInterval(kTickMs);
    connect(&Timer, &QTimer::timeout, this, &TRelink::TimerTimer);
}

void TRelink::start() {
    Licznik = 0;
    Etap = 1;
    main_.Flaga_Kom.Id = false;
    main_.RS_Identyfikator();
    Timer.start();
}

void TRelink::cancel() {
    Timer.stop();
    Etap = 0;
    Licznik = 0;
}

bool TRelink::awaited(bool arrived, void (TQTA504Core::*ask)()) {
    if (arrived) {
        Licznik = 0;
        return true;
    }
    if (++Licznik >= 4) {
        (main_.*ask)();
        Licznik = 0;
    }
    return false;
}

void TRelink::TimerTimer() {
    switch (Etap) {
    case 1:
        if (awaited(main_.Flaga_Kom.Id, &TQTA504Core::RS_Identyfikator)) {
            main_.Flaga_Kom.Konfig = false;
            main_.RS_ReceiveParam();
            Etap = 2;
        }
        break;
    case 2:
        if (awaited(main_.Flaga_Kom.Konfig, &TQTA504Core::RS_ReceiveParam)) {
            main_.Flaga_Kom.Ustawienia = false;
            main_.RS_ReceiveDostosuj();
            Etap = 3;
        }
        break;
    case 3:
        if (awaited(main_.Flaga_Kom.Ustawienia, &TQTA504Core::RS_ReceiveDostosuj)) {
            cancel();
            if (main_.downloadNeeded())
                main_.armDownload();
            Q_EMIT finished();
        }
        break;
    default: cancel(); break;
    }
}

} // namespace qta
