#include "report/reportcontent.h"

#include <QLocale>
#include <QRegularExpression>

namespace qta {

namespace {

using Block = TReportBlock;

const QLocale& polish() {
    static const QLocale l(QLocale::Polish, QLocale::Poland);
    return l;
}

Block block(Block::Kind kind, const QString& text = {}) {
    Block b;
    b.kind = kind;
    b.text = text;
    return b;
}

Block pairs(std::vector<QStringList> rows) {
    Block b = block(Block::Pairs);
    b.rows = std::move(rows);
    return b;
}

Block table(QStringList columns, std::vector<double> widths, std::vector<QStringList> rows) {
    Block b = block(Block::Table);
    b.columns = std::move(columns);
    b.widths = std::move(widths);
    b.rows = std::move(rows);
    return b;
}

QString stamp(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

// "Linia kwalifikowana jako dobra" -> "kwalifikowana jako dobra": the
// column already names the line.
QString stateText(const QString& s) {
    QString t = s;
    if (t.startsWith(QStringLiteral("Linia ")))
        t.remove(0, 6);
    if (!t.isEmpty())
        t[0] = t[0].toLower();
    return t;
}

class TBuilder {
public:
    explicit TBuilder(const TReportData& d) : d_(d) {}
    TReportDocument build();

private:
    void titlePage();
    void configuration();
    void events();
    void alarms();
    void charts();
    void summary();
    void heading(const QString& text) {
        out_.blocks.push_back(
            block(Block::Heading, QStringLiteral("%1. %2").arg(++part_).arg(text)));
    }
    void add(Block b) { out_.blocks.push_back(std::move(b)); }
    void settingsGroup(const TSettingsGroup& g);

    const TReportData& d_;
    TReportDocument out_;
    int part_ = 0;
};

TReportDocument TBuilder::build() {
    const QString id = d_.controllerId.isEmpty() ? QStringLiteral("nieznany") : d_.controllerId;
    out_.title =
        QStringLiteral("Raport SZR QTA-504, sterownik %1, %2").arg(id, periodText(d_.from, d_.to));
    out_.headerLeft = QStringLiteral("Sterownik QTA-504: %1").arg(id);
    out_.headerRight = QStringLiteral("Raport z dnia %1").arg(stamp(d_.made));
    titlePage();
    if (d_.sections.configuration)
        configuration();
    if (d_.sections.events)
        events();
    if (d_.sections.alarms && d_.alarmJournal)
        alarms();
    if (d_.sections.charts)
        charts();
    if (d_.sections.summary)
        summary();
    return std::move(out_);
}

void TBuilder::titlePage() {
    Block t = block(Block::Title, QStringLiteral("Raport z uruchomienia i serwisu SZR"));
    t.rows = {
        {QStringLiteral("Sterownik"),
         d_.controllerId.isEmpty()
             ? QStringLiteral("QTA-504, identyfikator nieznany")
             : QStringLiteral("QTA-504, identyfikator %1").arg(d_.controllerId)},
        {QStringLiteral("Okres"), periodText(d_.from, d_.to)},
        {QStringLiteral("Data raportu"), stamp(d_.made)},
        {QStringLiteral("Użytkownik komputera"), d_.user},
        {QStringLiteral("Program"),
         QStringLiteral("QTA-504 Nadzór SZR, wersja %1").arg(d_.version)},
        {QStringLiteral("Folder danych"), d_.dataDir},
    };
    add(t);
    Block fill = block(Block::FillIn);
    fill.rows = {{QStringLiteral("Obiekt")},
                 {QStringLiteral("Rozdzielnica")},
                 {QStringLiteral("Technik (imię i nazwisko)")},
                 {QStringLiteral("Zakres prac"), QStringLiteral("2")},
                 {QStringLiteral("Uwagi"), QStringLiteral("3")}};
    add(fill);
    Block sign = block(Block::Signatures);
    sign.rows = {{QStringLiteral("Podpis technika")},
                 {QStringLiteral("Podpis przedstawiciela obiektu")}};
    add(sign);
}

void TBuilder::settingsGroup(const TSettingsGroup& g) {
    std::vector<QStringList> rows;
    for (const char* c : g.components)
        if (const TFieldDesc* f =
                findField(g.custom ? customFields() : configFields(), QLatin1String(c)))
            rows.push_back(settingRow(*f, d_.konf));
    add(pairs(std::move(rows)));
}

void TBuilder::configuration() {
    heading(QStringLiteral("Konfiguracja sterownika"));
    if (d_.hasConfig) {
        add(block(Block::Paragraph, QStringLiteral("Źródło: %1.").arg(d_.configSource)));
        for (const TSettingsGroup& g : settingsGroups())
            if (!g.custom) {
                add(block(Block::Subheading, g.title));
                settingsGroup(g);
            }
    } else {
        add(block(Block::Paragraph,
                  QStringLiteral("Konfiguracja nieznana: sterownik nie został jeszcze odczytany "
                                 "w tym folderze danych (brak pliku rejestr/sterownik.ini) i nie "
                                 "wskazano pliku kopii ustawień.")));
    }
    add(block(Block::Subheading, QStringLiteral("Dostosowanie")));
    if (d_.hasCustom) {
        add(block(Block::Paragraph, QStringLiteral("Źródło: %1.").arg(d_.customSource)));
        for (const TSettingsGroup& g : settingsGroups())
            if (g.custom)
                settingsGroup(g);
    } else {
        add(block(Block::Paragraph, QStringLiteral("Dostosowanie nieznane.")));
    }
    for (const QString& n : d_.settingsNotes)
        add(block(Block::Note, n));
}

void TBuilder::events() {
    heading(QStringLiteral("Rejestr zdarzeń"));
    if (d_.events.empty()) {
        add(block(Block::Paragraph, QStringLiteral("Brak zdarzeń w wybranym okresie.")));
        return;
    }
    add(block(Block::Paragraph,
              QStringLiteral("Zdarzenia z okresu %1: %2 (cały rejestr: %3). Stany linii N1, N2, "
                             "N3 w chwili zdarzenia.")
                  .arg(periodText(d_.from, d_.to))
                  .arg(d_.events.size())
                  .arg(polishCount(d_.logRows, "wiersz", "wiersze", "wierszy"))));
    std::vector<QStringList> rows;
    rows.reserve(d_.events.size());
    for (const TReportEvent& e : d_.events)
        rows.push_back({e.date, e.time, e.text, stateText(e.states[0]), stateText(e.states[1]),
                        stateText(e.states[2]), e.remark});
    add(table({QStringLiteral("Data"), QStringLiteral("Czas"), QStringLiteral("Zdarzenie"),
               QStringLiteral("N1"), QStringLiteral("N2"), QStringLiteral("N3"),
               QStringLiteral("Uwagi")},
              {0.105, 0.06, 0.265, 0.125, 0.125, 0.125, 0.195}, std::move(rows)));
}

void TBuilder::alarms() {
    heading(QStringLiteral("Dziennik alarmów"));
    if (d_.alarms.empty()) {
        add(block(Block::Paragraph, QStringLiteral("Brak alarmów w wybranym okresie.")));
        return;
    }
    std::vector<QStringList> rows;
    for (const TReportAlarm& a : d_.alarms)
        rows.push_back({a.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), a.alarm, a.priority,
                        a.state, a.who, a.remark});
    add(table({QStringLiteral("Czas"), QStringLiteral("Alarm"), QStringLiteral("Priorytet"),
               QStringLiteral("Stan"), QStringLiteral("Kto"), QStringLiteral("Uwagi")},
              {0.13, 0.27, 0.11, 0.13, 0.1, 0.26}, std::move(rows)));
}

void TBuilder::charts() {
    heading(QStringLiteral("Wykresy napięć"));
    if (d_.lines.empty() || d_.summary.volts.rows == 0) {
        add(block(Block::Paragraph, QStringLiteral("Brak pomiarów napięć w wybranym okresie.")));
        return;
    }
    add(block(Block::Paragraph,
              QStringLiteral("Napięcia faz L1, L2, L3 z historii napięć (rejestr/linia.dbf), "
                             "okres %1. Spadki do zera to przerwy w pracy programu.")
                  .arg(periodText(d_.from, d_.to))));
    for (int line : d_.lines) {
        Block c = block(Block::Chart, QStringLiteral("Linia %1").arg(d_.lineTitle(line)));
        c.line = line;
        c.t0 = d_.t0;
        c.t1 = d_.t1;
        add(c);
    }
}

void TBuilder::summary() {
    heading(QStringLiteral("Podsumowanie"));
    const TReportSummary& s = d_.summary;
    QString longest = QStringLiteral("nie wystąpił");
    if (s.longest)
        longest = QStringLiteral("%1 (od %2 do %3%4)")
                      .arg(durationText(s.longest->minutes()), stamp(s.longest->from),
                           stamp(s.longest->to),
                           s.longest->open ? QStringLiteral(", trwał do końca okresu") : QString());
    add(pairs({{QStringLiteral("Okres"), periodText(d_.from, d_.to)},
               {QStringLiteral("Zdarzeń w okresie"), QString::number(s.events)},
               {QStringLiteral("Przerw bez dobrej linii zasilającej"),
                QString::number(s.noGoodLineTimes)},
               {QStringLiteral("Najdłuższy czas bez dobrej linii"), longest}}));
    add(block(Block::Subheading, QStringLiteral("Zdarzenia według rodzaju")));
    if (s.kinds.empty()) {
        add(block(Block::Paragraph, QStringLiteral("Brak zdarzeń w wybranym okresie.")));
    } else {
        std::vector<QStringList> rows;
        for (const TEventCount& k : s.kinds)
            rows.push_back({k.kind, QString::number(k.count)});
        add(table({QStringLiteral("Rodzaj zdarzenia"), QStringLiteral("Liczba")}, {0.85, 0.15},
                  std::move(rows)));
    }
    add(block(Block::Subheading, QStringLiteral("Najniższe i najwyższe napięcia faz")));
    if (s.volts.rows == 0 || d_.lines.empty()) {
        add(block(Block::Paragraph, QStringLiteral("Brak pomiarów napięć w wybranym okresie.")));
        return;
    }
    std::vector<QStringList> rows;
    for (int line : d_.lines)
        for (int p = 0; p < 3; ++p) {
            const auto k = size_t(3 * (line - 1) + p);
            // A phase whose field held no number in any row of the period.
            const bool none = s.volts.lo[k] > s.volts.hi[k];
            const auto volts = [none](int v) {
                return none ? QStringLiteral("brak") : QStringLiteral("%1 V").arg(v);
            };
            rows.push_back({d_.lineTitle(line), QStringLiteral("L%1").arg(p + 1),
                            volts(s.volts.lo[k]), volts(s.volts.hi[k])});
        }
    add(table({QStringLiteral("Linia"), QStringLiteral("Faza"), QStringLiteral("Najniższe"),
               QStringLiteral("Najwyższe")},
              {0.4, 0.2, 0.2, 0.2}, std::move(rows)));
    add(block(Block::Note,
              QStringLiteral("Z %1 pomiarów okresu; wiersze samych zer (start i koniec pracy "
                             "programu) pominięto.")
                  .arg(polish().toString(s.volts.rows))));
}

} // namespace

QString polishCount(qint64 n, const char* one, const char* few, const char* many) {
    const qint64 tens = n % 100, units = n % 10;
    const char* form = n == 1                                                 ? one
                       : units >= 2 && units <= 4 && (tens < 12 || tens > 14) ? few
                                                                              : many;
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(form));
}

QString periodText(const QDate& from, const QDate& to) {
    return from.toString(Qt::ISODate) + QStringLiteral(" – ") + to.toString(Qt::ISODate);
}

QStringList settingRow(const TFieldDesc& f, const TKonf& konf) {
    static const QRegularExpression unit(QStringLiteral("\\s*\\[(\\w+)\\]$"));
    static const QRegularExpression hint(QStringLiteral("\\s*\\(\\d[^)]*\\)$"));
    QString name = f.spoken;
    QString suffix;
    if (const QRegularExpressionMatch m = unit.match(name); m.hasMatch()) {
        suffix = u' ' + m.captured(1);
        name.truncate(m.capturedStart());
    }
    name.remove(hint);
    const double v = f.get(konf);
    QString value;
    if (f.kind == TFieldDesc::Choice) {
        value = choiceText(f, int(v));
        if (value.isEmpty())
            value = QStringLiteral("%1 (wartość spoza listy)").arg(int(v));
    } else if (f.rule.kind == EntryKind::Tenths) {
        value = entryText(f.rule, v, true, polish()) + suffix;
    } else {
        value = QString::number(qint64(v)) + suffix;
    }
    return {name, value};
}

TReportDocument reportDocument(const TReportData& d) { return TBuilder(d).build(); }

const std::vector<TSettingsGroup>& settingsGroups() {
    static const std::vector<TSettingsGroup> groups = {
        {QStringLiteral("Napięcia"),
         false,
         {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9"}},
        {QStringLiteral("Czasy"), false, {"Edit10", "Edit12", "Edit11"}},
        {QStringLiteral("Aparaty"), false, {"TypAparatu", "Edit13", "Edit14", "Edit15"}},
        {QStringLiteral("Tryb: program pracy, linia główna, zrzut obciążenia"),
         false,
         {"WyborTrybu", "Linia_Glowna", "Znaczek_N1", "Znaczek_N2", "Znaczek_N3"}},
        {QStringLiteral("Dostosowanie"),
         true,
         {"Kontrola", "Kontrola_Edit", "Podsw", "Podsw_Czas_Edit", "Podsw_Jasn_Edit", "Buczek",
          "Buczek_Czas", "Rejestr"}},
    };
    return groups;
}

} // namespace qta
