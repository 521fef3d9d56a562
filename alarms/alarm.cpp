#include "alarms/alarm.h"

#include "link/model.h"

#include <QStringList>

namespace qta {

const std::vector<TAlarmKindInfo>& alarmKinds() {
    static const std::vector<TAlarmKindInfo> kinds = {
        {AlarmKind::SafetyBreaker, "WylacznikBezpieczenstwa",
         "Zadziałanie wyłącznika bezpieczeństwa", AlarmPriority::High},
        {AlarmKind::NoGoodLine, "BrakDobrychLinii", "Brak dobrych linii zasilających",
         AlarmPriority::High},
        {AlarmKind::OutputDead, "BrakNapieciaWyjscia", "Brak napięcia na linii wyjściowej",
         AlarmPriority::High},
        {AlarmKind::Generator, "ZalaczenieGeneratora", "Załączenie generatora",
         AlarmPriority::Medium},
        {AlarmKind::UnknownFault, "NieznanaAwaria", "Nieznana awaria (bity 3–6)",
         AlarmPriority::Medium},
        {AlarmKind::LineBad, "LiniaZla", "Linia zasilająca zła", AlarmPriority::Medium},
        {AlarmKind::LinkLost, "BrakPolaczenia", "Brak połączenia ze sterownikiem",
         AlarmPriority::Medium},
        {AlarmKind::Transfer, "Przelaczenie", "Przełączenie zasilania (powiadomienie)",
         AlarmPriority::Medium},
    };
    return kinds;
}

const TAlarmKindInfo& alarmKindInfo(AlarmKind kind) {
    for (const TAlarmKindInfo& i : alarmKinds())
        if (i.kind == kind)
            return i;
    return alarmKinds().front();
}

QString transitionText(AlarmTransition t) {
    switch (t) {
    case AlarmTransition::Raised: return QStringLiteral("Wystąpił");
    case AlarmTransition::Acknowledged: return QStringLiteral("Potwierdzony");
    case AlarmTransition::Cleared: return QStringLiteral("Ustąpił");
    case AlarmTransition::Shelved: return QStringLiteral("Wyciszony");
    case AlarmTransition::Unshelved: return QStringLiteral("Koniec wyciszenia");
    }
    return {};
}

QString priorityText(AlarmPriority p) {
    return p == AlarmPriority::High ? QStringLiteral("wysoki") : QStringLiteral("średni");
}

QString stateText(AlarmState s, bool notification) {
    if (notification)
        return s == AlarmState::Normal ? QStringLiteral("potwierdzone")
                                       : QStringLiteral("niepotwierdzone");
    switch (s) {
    case AlarmState::Normal: return QStringLiteral("ustąpił i potwierdzony");
    case AlarmState::ActiveUnacked: return QStringLiteral("aktywny, niepotwierdzony");
    case AlarmState::ActiveAcked: return QStringLiteral("aktywny, potwierdzony");
    case AlarmState::ClearedUnacked: return QStringLiteral("ustąpił, niepotwierdzony");
    }
    return {};
}

bool programUsesLine(int program, int line) {
    switch (program) {
    case ProgN1N2N3:
    case ProgN1N2G: return line >= 1 && line <= 3;
    case ProgN1N2: return line == 1 || line == 2;
    case ProgN1G:
    case ProgN1N2S: return line == 1 || line == 3;
    case ProgOnlyN1: return line == 1;
    case ProgOnlyN2: return line == 2;
    case ProgOnlyN3: return line == 3;
    default: return false;
    }
}

QString lineName(int program, int line) {
    if (line == 3 && (program == ProgN1N2G || program == ProgN1G))
        return QStringLiteral("generator");
    if (line == 3 && program == ProgN1N2S)
        return QStringLiteral("N2 (sekcja prawa)");
    return QStringLiteral("N%1").arg(line);
}

namespace {

QString activeLineName(int code) {
    switch (code) {
    case ActiveNone: return QStringLiteral("brak aktywnej linii");
    case ActiveN1: return QStringLiteral("aktywna linia N1");
    case ActiveN2: return QStringLiteral("aktywna linia N2");
    case ActiveN3: return QStringLiteral("aktywna linia N3");
    case ActiveN1N3: return QStringLiteral("aktywne linie N1 i N3");
    case ActiveN1S: return QStringLiteral("aktywna linia N1 i sprzęgło");
    case ActiveN3S: return QStringLiteral("aktywna linia N3 i sprzęgło");
    default: return QStringLiteral("nieznany stan linii (%1)").arg(code);
    }
}
} // namespace

QString alarmText(AlarmKind kind, int line, int program, int bits, int activeLine) {
    switch (kind) {
    case AlarmKind::OutputDead: return QStringLiteral("Brak napięcia na linii wyjściowej");
    case AlarmKind::NoGoodLine: return QStringLiteral("Brak dobrych linii zasilających");
    case AlarmKind::Generator: return QStringLiteral("Załączenie generatora");
    case AlarmKind::SafetyBreaker: return QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
    case AlarmKind::UnknownFault: {
        QStringList list;
        for (int b = 3; b <= 6; ++b)
            if (bits & (1 << b))
                list << QString::number(b);
        return QStringLiteral("Nieznana awaria (bity %1)").arg(list.join(QStringLiteral(", ")));
    }
    case AlarmKind::LineBad: return QStringLiteral("Linia zła: ") + lineName(program, line);
    case AlarmKind::LinkLost: return QStringLiteral("Brak połączenia ze sterownikiem");
    case AlarmKind::Transfer:
        return QStringLiteral("Przełączenie zasilania: ") + activeLineName(activeLine);
    }
    return {};
}

} // namespace qta
