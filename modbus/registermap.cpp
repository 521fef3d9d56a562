#include "modbus/registermap.h"

#include "alarms/alarm.h"
#include "link/eventrecord.h"
#include "mqtt/mqttpayload.h"
#include "settings/editorfields.h"
#include "tables/csv.h"

#include <QBuffer>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace qta::modbus {

namespace {

const char* const kLines[3] = {"N1", "N2", "N3"};

QString unitOf(const QString& spoken) {
    static const QRegularExpression bracket(QStringLiteral(R"(\[([^\]]+)\]\s*$)"));
    const QRegularExpressionMatch m = bracket.match(spoken);
    return m.hasMatch() ? m.captured(1) : QString();
}

std::vector<TPoint> makeMap() {
    std::vector<TPoint> map;
    const auto add = [&map](Space space, int words, const QString& name, const QString& unit,
                            const QString& description, std::function<qint64(const TUnitState&)> f,
                            double scale = 1) {
        int address = 0;
        for (const TPoint& p : map)
            if (p.space == space)
                address = std::max(address, p.address + p.words);
        map.push_back({space, address, words, name, unit, scale, description, std::move(f)});
    };
    const auto reg = [&add](const QString& name, const QString& unit, const QString& description,
                            std::function<qint64(const TUnitState&)> f, int words = 1) {
        add(Space::InputRegister, words, name, unit, description, std::move(f));
    };
    const auto bit = [&add](const QString& name, const QString& description,
                            std::function<bool(const TUnitState&)> f) {
        add(Space::DiscreteInput, 1, name, {}, description,
            [f = std::move(f)](const TUnitState& s) { return qint64(f(s)); });
    };

    // --- input registers (function 4): the live state
    for (int n = 0; n < 3; ++n)
        for (int k = 0; k < 3; ++k)
            reg(QStringLiteral("U_%1_L%2").arg(QLatin1String(kLines[n])).arg(k + 1),
                QStringLiteral("V"),
                QStringLiteral("Napięcie fazy L%1 linii %2")
                    .arg(k + 1)
                    .arg(QLatin1String(kLines[n])),
                [i = size_t(n * 3 + k)](const TUnitState& s) { return s.voltages[i]; });
    for (int n = 0; n < 3; ++n)
        reg(QStringLiteral("Stan_%1").arg(QLatin1String(kLines[n])), {},
            QStringLiteral("Stan linii %1: %2").arg(QLatin1String(kLines[n]), lineStateCodes()),
            [i = size_t(n)](const TUnitState& s) { return s.lineStates[i]; });
    reg(QStringLiteral("Aktywna_Linia"), {},
        QStringLiteral("Aktywna linia: 0 brak, 1 N1, 2 N2, 3 N3, 4 N1+N3, 5 N1+S, 6 N3+S"),
        [](const TUnitState& s) { return s.activeLine; });
    reg(QStringLiteral("Program"), {},
        QStringLiteral("Program pracy: 0 brak, 1 N1+N2+N3, 2 N1+N2+G, 3 N1+N2, 4 N1+G, "
                       "5 N1+N2+S, 10 tylko N1, 11 tylko N2, 12 tylko N3"),
        [](const TUnitState& s) { return s.program; });
    reg(QStringLiteral("Awaria"), {},
        QStringLiteral("Bajt awarii odpowiedzi statusu (bit n: wejście dyskretne Awaria_bit_n)"),
        [](const TUnitState& s) { return s.faults & 0xff; });
    reg(QStringLiteral("Polaczenie"), {},
        QStringLiteral("Połączenie ze sterownikiem: 1 jest, 0 brak (wartości wstrzymane z "
                       "ostatniej odpowiedzi albo zera, gdy sterownik jeszcze nie odpowiedział)"),
        [](const TUnitState& s) { return s.link ? 1 : 0; });
    reg(QStringLiteral("Wiek_Danych"), QStringLiteral("s"),
        QStringLiteral("Sekundy od ostatniej ramki sterownika (65535: brak ramki lub więcej)"),
        [](const TUnitState& s) { return s.frameAgeS < 0 ? 65535 : std::min(s.frameAgeS, 65535); });
    for (int w = 0; w < 3; ++w)
        reg(QStringLiteral("Identyfikator_%1").arg(w + 1), {},
            QStringLiteral("Identyfikator sterownika, znaki %1 i %2 (ASCII, pierwszy w starszym "
                           "bajcie)")
                .arg(2 * w + 1)
                .arg(2 * w + 2),
            [w](const TUnitState& s) {
                const QByteArray id = s.identifier.toLatin1();
                const auto at = [&id](int i) {
                    return i < id.size() ? qint64(quint8(id.at(i))) : qint64(0);
                };
                return (at(2 * w) << 8) | at(2 * w + 1);
            });
    reg(
        QStringLiteral("Zdarzenia"), {},
        QStringLiteral("Liczba zdarzeń skopiowanych do rejestr.dbf (32 bity, starsze słowo "
                       "pierwsze)"),
        [](const TUnitState& s) { return s.eventsCopied; }, 2);
    reg(QStringLiteral("Ostatnie_Zdarzenie_Nr"), {},
        QStringLiteral("Numer rekordu ostatniego zdarzenia (65535: brak)"),
        [](const TUnitState& s) { return s.lastIndeks < 0 ? 65535 : s.lastIndeks; });
    reg(QStringLiteral("Ostatnie_Zdarzenie_Kod"), {},
        QStringLiteral("Kod ostatniego zdarzenia (65535: nieznany, gdy skopiowano je przed "
                       "uruchomieniem kolektora)"),
        [](const TUnitState& s) { return s.lastEventCode < 0 ? 65535 : s.lastEventCode; });
    reg(
        QStringLiteral("Ostatnie_Zdarzenie_Czas"), QStringLiteral("s"),
        QStringLiteral("Czas ostatniego zdarzenia według zegara sterownika, sekundy od "
                       "1970-01-01 UTC (32 bity, starsze słowo pierwsze; 0: brak)"),
        [](const TUnitState& s) { return s.lastEventTime; }, 2);
    reg(QStringLiteral("Alarmy_Niepotwierdzone"), {},
        QStringLiteral("Liczba niepotwierdzonych alarmów (bez odłożonych)"),
        [](const TUnitState& s) { return s.unacknowledged; });
    reg(QStringLiteral("Alarmy_Aktywne_Bity"), {},
        QStringLiteral("Bit n: aktywny alarm rodzaju n (rodzaje jak wejścia dyskretne "
                       "Alarm_..._Aktywny)"),
        [](const TUnitState& s) { return s.activeKinds; });
    reg(QStringLiteral("Alarmy_Niepotwierdzone_Bity"), {},
        QStringLiteral("Bit n: niepotwierdzony alarm rodzaju n"),
        [](const TUnitState& s) { return s.unackedKinds; });
    reg(QStringLiteral("Alarmy_Priorytet"), {},
        QStringLiteral("Najwyższy priorytet niepotwierdzonych alarmów: 0 brak, 1 średni, 2 wysoki"),
        [](const TUnitState& s) { return s.highestUnacked; });

    // --- discrete inputs (function 2): the same booleans bit by bit
    for (int n = 0; n < 3; ++n)
        bit(QStringLiteral("%1_Dobra").arg(QLatin1String(kLines[n])),
            QStringLiteral("Linia %1 dobra (stan 3)").arg(QLatin1String(kLines[n])),
            [i = size_t(n)](const TUnitState& s) { return s.lineStates[i] == 3; });
    bit(QStringLiteral("Wyjscie_Zasilone"),
        QStringLiteral("Linia wyjściowa zasilona (sterownik odpowiedział, bit 0 awarii "
                       "niezapalony)"),
        [](const TUnitState& s) { return s.frameAgeS >= 0 && !(s.faults & 1); });
    for (int b = 0; b < 8; ++b)
        bit(QStringLiteral("Awaria_bit_%1").arg(b), mqtt::faultTexts(1 << b).constFirst(),
            [b](const TUnitState& s) { return (s.faults >> b) & 1; });
    bit(QStringLiteral("Polaczenie"), QStringLiteral("Połączenie ze sterownikiem"),
        [](const TUnitState& s) { return s.link; });
    // Alarm kinds by their number (AlarmKind), so that a later kind comes at the end.
    std::vector<TAlarmKindInfo> kinds = alarmKinds();
    std::sort(kinds.begin(), kinds.end(),
              [](const auto& a, const auto& b) { return int(a.kind) < int(b.kind); });
    for (const auto& k : kinds)
        bit(QStringLiteral("Alarm_%1_Aktywny").arg(QLatin1String(k.settingsKey)),
            QStringLiteral("Alarm aktywny (bit %1): %2")
                .arg(int(k.kind))
                .arg(QString::fromUtf8(k.label)),
            [n = int(k.kind)](const TUnitState& s) { return (s.activeKinds >> n) & 1; });
    for (const auto& k : kinds)
        bit(QStringLiteral("Alarm_%1_Niepotwierdzony").arg(QLatin1String(k.settingsKey)),
            QStringLiteral("Alarm niepotwierdzony (bit %1): %2")
                .arg(int(k.kind))
                .arg(QString::fromUtf8(k.label)),
            [n = int(k.kind)](const TUnitState& s) { return (s.unackedKinds >> n) & 1; });

    // --- holding registers (function 3): the last complete read of the settings, read-only
    add(Space::HoldingRegister, 1, QStringLiteral("Ustawienia_Odczytane"), {},
        QStringLiteral("1: ustawienia odczytane ze sterownika (rejestr/sterownik.ini), 0: brak "
                       "odczytu (rejestry ustawień są wtedy zerami)"),
        [](const TUnitState& s) { return s.settingsKnown ? 1 : 0; });
    add(Space::HoldingRegister, 2, QStringLiteral("Ustawienia_Czas"), QStringLiteral("s"),
        QStringLiteral("Czas odczytu ustawień, sekundy od 1970-01-01 UTC (32 bity, starsze "
                       "słowo pierwsze)"),
        [](const TUnitState& s) { return s.settingsTime; });
    for (const auto* fields : {&configFields(), &customFields()})
        for (const TFieldDesc& f : *fields) {
            const bool tenths = f.kind == TFieldDesc::Entry && f.rule.kind == EntryKind::Tenths;
            QString description = f.spoken;
            if (f.kind == TFieldDesc::Choice) {
                QStringList items;
                for (int v : f.choices)
                    items << QStringLiteral("%1 %2").arg(v).arg(choiceText(f, v));
                description += QStringLiteral(": ") + items.join(QStringLiteral(", "));
            }
            add(
                Space::HoldingRegister, 1, f.key, unitOf(f.spoken), description,
                [get = f.get, tenths](const TUnitState& s) {
                    const double v = get(s.konf);
                    return qint64(std::llround(tenths ? v * 10 : v));
                },
                tenths ? 0.1 : 1);
        }
    return map;
}

} // namespace

QString lineStateCodes() {
    QStringList codes;
    for (int c = 0; c < 4; ++c)
        codes << QStringLiteral("%1 %2").arg(c).arg(lineStateText(c));
    return codes.join(QStringLiteral(", "));
}

const std::vector<TPoint>& registerMap() {
    static const std::vector<TPoint> map = makeMap();
    return map;
}

int spaceSize(Space space) {
    int size = 0;
    for (const TPoint& p : registerMap())
        if (p.space == space)
            size = std::max(size, p.address + p.words);
    return size;
}

void fillImage(const TUnitState& state, TImage& image) {
    image.input.assign(size_t(spaceSize(Space::InputRegister)), 0);
    image.holding.assign(size_t(spaceSize(Space::HoldingRegister)), 0);
    image.discrete.assign(size_t(spaceSize(Space::DiscreteInput)), 0);
    for (const TPoint& p : registerMap()) {
        // Registers hold 0..65535 (two: 0..2^32-1); what does not fit is held at the limit.
        const qint64 max = p.words == 2                      ? 0xffffffffLL
                           : p.space == Space::DiscreteInput ? 1
                                                             : 0xffff;
        const quint32 v = quint32(std::clamp<qint64>(p.value(state), 0, max));
        switch (p.space) {
        case Space::DiscreteInput: image.discrete[size_t(p.address)] = quint8(v); break;
        case Space::InputRegister:
        case Space::HoldingRegister: {
            auto& regs = p.space == Space::InputRegister ? image.input : image.holding;
            if (p.words == 2) {
                regs[size_t(p.address)] = quint16(v >> 16);
                regs[size_t(p.address + 1)] = quint16(v & 0xffff);
            } else {
                regs[size_t(p.address)] = quint16(v);
            }
            break;
        }
        }
    }
}

QByteArray registerMapCsv() {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TCsvWriter csv(&buffer);
    csv.writeRow({QStringLiteral("adres"), QStringLiteral("funkcja"), QStringLiteral("rejestry"),
                  QStringLiteral("nazwa"), QStringLiteral("jednostka"), QStringLiteral("skala"),
                  QStringLiteral("opis")});
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    for (const TPoint& p : registerMap())
        csv.writeRow({QString::number(p.address), QString::number(int(p.space)),
                      QString::number(p.words), p.name, p.unit, polish.toString(p.scale),
                      p.description});
    return buffer.data();
}

} // namespace qta::modbus
