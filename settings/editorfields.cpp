#include "settings/editorfields.h"

#include <algorithm>

namespace qta {

bool TFieldDesc::accepts(int v) const {
    return std::find(choices.begin(), choices.end(), v) != choices.end();
}

int programItem(int progr) {
    for (int i = 0; i < 9; ++i)
        if (kProgramItems[i] == progr)
            return i;
    return -1;
}

namespace {

using K = TKonf;

TFieldDesc entry(const char* component, const char* key, const QString& spoken, EntryKind kind,
                 double lo, double hi, std::function<double(const K&)> get,
                 std::function<void(K&, double)> set) {
    TFieldDesc f;
    f.kind = TFieldDesc::Entry;
    f.component = QLatin1String(component);
    f.key = QLatin1String(key);
    f.spoken = spoken;
    f.rule = {kind, lo, hi};
    f.get = std::move(get);
    f.set = std::move(set);
    return f;
}

TFieldDesc choice(const char* component, const char* key, const QString& spoken,
                  std::vector<int> values, std::function<double(const K&)> get,
                  std::function<void(K&, double)> set) {
    TFieldDesc f;
    f.kind = TFieldDesc::Choice;
    f.component = QLatin1String(component);
    f.key = QLatin1String(key);
    f.spoken = spoken;
    f.choices = std::move(values);
    f.get = std::move(get);
    f.set = std::move(set);
    return f;
}

TFieldDesc flag(const char* component, const char* key, const QString& spoken, bool K::*member) {
    return choice(
        component, key, spoken, {0, 1}, [member](const K& k) { return k.*member ? 1.0 : 0.0; },
        [member](K& k, double v) { k.*member = v != 0; });
}

std::vector<TFieldDesc> makeConfigFields() {
    using namespace limits;
    std::vector<TFieldDesc> f;
    // Edit1..Edit9: per line Umin, Histereza, Umax.
    for (int n = 1; n <= 3; ++n) {
        const int e = (n - 1) * 3 + 1;
        const auto line = size_t(n);
        const QByteArray c1 = "Edit" + QByteArray::number(e);
        const QByteArray c2 = "Edit" + QByteArray::number(e + 1);
        const QByteArray c3 = "Edit" + QByteArray::number(e + 2);
        const QByteArray k = "N" + QByteArray::number(n) + "_";
        f.push_back(entry(
            c1.constData(), (k + "U_Min").constData(), QStringLiteral("U_Min linii N%1 [V]").arg(n),
            EntryKind::Integer, Umin, Umax, [line](const K& x) { return x.Linia[line].Umin; },
            [line](K& x, double v) { x.Linia[line].Umin = int(v); }));
        f.push_back(entry(
            c2.constData(), (k + "U_Hist").constData(),
            QStringLiteral("U_Hist (histereza) linii N%1 [V]").arg(n), EntryKind::Integer, Hist_Min,
            Hist_Max, [line](const K& x) { return x.Linia[line].Histereza; },
            [line](K& x, double v) { x.Linia[line].Histereza = int(v); }));
        f.push_back(entry(
            c3.constData(), (k + "U_Max").constData(), QStringLiteral("U_Max linii N%1 [V]").arg(n),
            EntryKind::Integer, Umin, Umax, [line](const K& x) { return x.Linia[line].Umax; },
            [line](K& x, double v) { x.Linia[line].Umax = int(v); }));
    }
    f.push_back(entry(
        "Edit10", "T_Kwal_ON", QStringLiteral("T Kwal ON, czas kwalifikacji linii jako dobrej [s]"),
        EntryKind::Integer, Kwal_Min, Kwal_Max, [](const K& x) { return x.Kwal_ON; },
        [](K& x, double v) { x.Kwal_ON = int(v); }));
    f.push_back(entry(
        "Edit11", "T_Kwal_OFF", QStringLiteral("T Kwal OFF, czas kwalifikacji linii jako złej [s]"),
        EntryKind::Integer, Kwal_Min, Kwal_Max, [](const K& x) { return x.Kwal_OFF; },
        [](K& x, double v) { x.Kwal_OFF = int(v); }));
    f.push_back(entry(
        "Edit12", "T_Min", QStringLiteral("T Min, minimalny czas załączenia linii [s]"),
        EntryKind::Integer, CzasPracy_Min, CzasPracy_Max, [](const K& x) { return x.Przelaczanie; },
        [](K& x, double v) { x.Przelaczanie = int(v); }));
    f.push_back(entry(
        "Edit13", "T_Off", QStringLiteral("T Off, czas rozbrajania aparatu [s]"), EntryKind::Tenths,
        Td_Min, Td_Max, [](const K& x) { return x.Rozbrajanie; },
        [](K& x, double v) { x.Rozbrajanie = v; }));
    f.push_back(entry(
        "Edit14", "T_D",
        QStringLiteral("T D, przerwa między wyłączeniem i załączeniem aparatów [s]"),
        EntryKind::Tenths, Td_Min, Td_Max, [](const K& x) { return x.Przerwa; },
        [](K& x, double v) { x.Przerwa = v; }));
    f.push_back(entry(
        "Edit15", "T_On", QStringLiteral("T On, czas uzbrajania aparatu [s]"), EntryKind::Tenths,
        Ton_Min, Ton_Max, [](const K& x) { return x.Uzbrajanie; },
        [](K& x, double v) { x.Uzbrajanie = v; }));
    f.push_back(flag("TypAparatu", "Aparat",
                     QStringLiteral("Typ aparatów (0 styczniki, 1 rozłączniki)"), &K::Aparat));
    f.push_back(choice(
        "WyborTrybu", "Program", QStringLiteral("Program pracy"),
        {std::begin(kProgramItems), std::end(kProgramItems)}, [](const K& x) { return x.Progr; },
        [](K& x, double v) { x.Progr = int(v); }));
    f.push_back(choice(
        "Linia_Glowna", "Linia_Glowna", QStringLiteral("Linia główna (0 brak, 1..3 N1..N3)"),
        {0, 1, 2, 3}, [](const K& x) { return x.Linia_Glowna; },
        [](K& x, double v) { x.Linia_Glowna = int(v); }));
    for (int n = 1; n <= 3; ++n) {
        const auto line = size_t(n);
        const QByteArray c = "Znaczek_N" + QByteArray::number(n);
        const QByteArray k = "Zrzut_N" + QByteArray::number(n);
        f.push_back(choice(
            c.constData(), k.constData(), QStringLiteral("Zrzut obciążenia N%1").arg(n), {0, 1},
            [line](const K& x) { return x.Linia[line].Zrzut ? 1.0 : 0.0; },
            [line](K& x, double v) { x.Linia[line].Zrzut = v != 0; }));
    }
    return f;
}

std::vector<TFieldDesc> makeCustomFields() {
    std::vector<TFieldDesc> f;
    f.push_back(entry(
        "Kontrola_Edit", "Kontrola_Opoznienie",
        QStringLiteral("Opóźnienie załączenia alarmu kontroli napięcia wyjściowego"),
        EntryKind::IntegerStrict, 0, 255, [](const K& x) { return x.Kontrola_Opozn; },
        [](K& x, double v) { x.Kontrola_Opozn = int(v); }));
    f.push_back(entry(
        "Podsw_Czas_Edit", "Podswietlanie_Czas", QStringLiteral("Czas podświetlania LCD"),
        EntryKind::IntegerStrict, 0, 99, [](const K& x) { return x.Podsw_Czas; },
        [](K& x, double v) { x.Podsw_Czas = int(v); }));
    f.push_back(entry(
        "Podsw_Jasn_Edit", "Podswietlanie_Jasnosc", QStringLiteral("Jasność podświetlania LCD"),
        EntryKind::IntegerStrict, 0, 99, [](const K& x) { return x.Podsw_Jasnosc; },
        [](K& x, double v) { x.Podsw_Jasnosc = int(v); }));
    f.push_back(entry(
        "Buczek_Czas", "Buczek_Czas", QStringLiteral("Czas trwania alarmu dźwiękowego"),
        EntryKind::IntegerStrict, 0, 99, [](const K& x) { return x.Buczek_Czas; },
        [](K& x, double v) { x.Buczek_Czas = int(v); }));
    f.push_back(flag("Kontrola", "Kontrola_On", QStringLiteral("Kontrola napięcia wyjściowego"),
                     &K::Kontrola_On));
    f.push_back(
        flag("Podsw", "Podswietlanie_On", QStringLiteral("Podświetlanie LCD"), &K::Podsw_On));
    f.push_back(
        flag("Buczek", "Buczek_On", QStringLiteral("Sygnalizacja dźwiękowa"), &K::Buczek_On));
    f.push_back(flag("Rejestr", "Rejestr_On", QStringLiteral("Rejestr zdarzeń"), &K::Rejestr_On));
    return f;
}

} // namespace

const std::vector<TFieldDesc>& configFields() {
    static const std::vector<TFieldDesc> f = makeConfigFields();
    return f;
}

const std::vector<TFieldDesc>& customFields() {
    static const std::vector<TFieldDesc> f = makeCustomFields();
    return f;
}

QStringList listItems(const QString& component) {
    if (component == u"TypAparatu")
        return {QStringLiteral("Styczniki"), QStringLiteral("Rozłączniki")};
    if (component == u"WyborTrybu")
        return {QStringLiteral("Brak"),
                QStringLiteral("Linie N1 + N2 + N3"),
                QStringLiteral("Linie N1 + N2 + G"),
                QStringLiteral("Linie N1 + N2"),
                QStringLiteral("Linie N1 + G"),
                QStringLiteral("Linie N1 + N3 + Łącznik"),
                QStringLiteral("Tylko linia N1"),
                QStringLiteral("Tylko linia N2"),
                QStringLiteral("Tylko linia N3")};
    if (component == u"Linia_Glowna")
        return {QStringLiteral("Brak"), QStringLiteral("Linia N1"), QStringLiteral("Linia N2"),
                QStringLiteral("Linia N3")};
    return {};
}

QString choiceText(const TFieldDesc& f, int v) {
    if (f.kind != TFieldDesc::Choice)
        return {};
    if (f.component == u"WyborTrybu") {
        const int item = programItem(v);
        return item < 0 ? QString() : listItems(f.component).value(item);
    }
    const QStringList items = listItems(f.component);
    if (!items.isEmpty())
        return v >= 0 && v < items.size() ? items[v] : QString();
    // A marker pair.
    if (v == 0 || v == 1)
        return v ? QStringLiteral("włączony") : QStringLiteral("wyłączony");
    return {};
}

const TFieldDesc* findField(const std::vector<TFieldDesc>& fields, const QString& component) {
    for (const TFieldDesc& f : fields)
        if (f.component == component)
            return &f;
    return nullptr;
}

} // namespace qta
