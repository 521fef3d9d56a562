#include "mimic/mimicview.h"

#include "core/controller.h"

#include <QJsonArray>

namespace qta {

namespace {

QString phaseName(int line, int k) { return QStringLiteral("N%1L%2").arg(line).arg(k); }

QString colourText(unsigned rgb) {
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

} // namespace

std::vector<TMimicElement> mimicElements(const TMimicLayout& l) {
    std::vector<TMimicElement> out;
    const auto picture = [&](const QString& name, const QString& file, const QString& spoken,
                             const QRect& r, bool shown) {
        TMimicElement e;
        e.name = name;
        e.file = file;
        e.spoken = spoken;
        e.rect = r;
        e.shownAtStart = shown;
        out.push_back(e);
    };
    picture(l.backgroundName, l.backgroundFile, {}, QRect(QPoint(0, 0), l.backgroundSize), true);
    for (const TDiagramPicture& p : l.active)
        picture(p.name, p.file, QStringLiteral("Zasilanie: ") + p.description, l.diagram, false);
    picture(l.off.name, l.off.file, QStringLiteral("Zasilanie: ") + l.off.description, l.diagram,
            true);
    for (const TPanelLayout& pl : l.panels) {
        for (int k = 1; k <= 3; ++k) {
            const QString name = phaseName(pl.line, k);
            const QString where = QStringLiteral("%1 L%2").arg(pl.tag).arg(k);
            TMimicElement r;
            r.kind = TMimicElement::Reading;
            r.name = name + QStringLiteral("_U");
            r.spoken = QStringLiteral("Napięcie %1").arg(where);
            r.rect = QRect(QPoint(pl.readingX[size_t(k - 1)], kReadingY), kReadingSize);
            r.line = pl.line;
            r.phase = k;
            out.push_back(r);
            const int x = pl.lampX[size_t(k - 1)];
            const struct {
                const char* suffix;
                const char* kind;
                const char* spoken;
                int dy;
            } lamps[] = {{"_Max", "vmax", "Vmax", 0},
                         {"_OK", "vok", "Vok", 16},
                         {"_Min", "vmin", "Vmin", 32}};
            for (const auto& lamp : lamps) {
                const QRect at(QPoint(x, pl.lampY + lamp.dy), kLampSize);
                const QString spoken =
                    QStringLiteral("Lampka %1 %2").arg(QLatin1String(lamp.spoken), where);
                picture(name + QLatin1String(lamp.suffix) + QStringLiteral("_Off"),
                        QStringLiteral("lamp_%1_off.svg").arg(QLatin1String(lamp.kind)),
                        spoken + QStringLiteral(": zgaszona"), at, true);
                picture(name + QLatin1String(lamp.suffix),
                        QStringLiteral("lamp_%1_on.svg").arg(QLatin1String(lamp.kind)),
                        spoken + QStringLiteral(": zapalona"), at, false);
            }
        }
        for (size_t b = 0; b < kBadgeFiles.size(); ++b)
            picture(
                QStringLiteral("N%1_Status_%2").arg(pl.line).arg(QLatin1String(kBadgeLetters[b])),
                QLatin1String(kBadgeFiles[b]),
                QStringLiteral("Status %1: %2").arg(pl.genitive, QString::fromUtf8(kBadgeTexts[b])),
                QRect(pl.badge, kBadgeSize), false);
        TMimicElement c;
        c.kind = TMimicElement::Chart;
        c.name = QStringLiteral("N%1_Wykres").arg(pl.line);
        c.spoken = QStringLiteral("Wykres napięć %1").arg(pl.genitive);
        c.rect = QRect(pl.chart, kChartSize);
        c.line = pl.line;
        out.push_back(c);
    }
    return out;
}

TMimicView mimicView(const TMimicLayout& l, const TQTA504Core& state, int& diagram,
                     bool linkDownLong) {
    TMimicView v;
    // A window that tests the link blanks what would otherwise look live
    // while the link is down: readings, badges, lit Vok and Vmax lamps, the
    // supply picture (the all-off one stays as it was).
    const bool blank = l.linkTest && !state.UART_Connect && linkDownLong;
    v.shown.insert(l.backgroundName);
    for (const TPanelLayout& pl : l.panels) {
        const TLinia1& line = state.linia(pl.line);
        const TLinia& limits = state.Konfig.Linia[size_t(pl.line)];
        for (int k = 1; k <= 3; ++k) {
            const QString name = phaseName(pl.line, k);
            const int u = line.U[size_t(k)];
            v.readings.insert(name + QStringLiteral("_U"), mimicReadingText(u));
            if (!blank)
                v.shown.insert(name + QStringLiteral("_U"));
            const auto lamp = [&](const char* suffix, bool lit, bool blanked) {
                const QString n = name + QLatin1String(suffix);
                if (lit && !blanked)
                    v.shown.insert(n);
                if (!lit)
                    v.shown.insert(n + QStringLiteral("_Off"));
            };
            lamp("_Min", line.Error_Min[size_t(k)] != 0, false);
            lamp("_Max", line.Error_Max[size_t(k)] != 0, blank);
            lamp("_OK", limits.Umin <= u && u <= limits.Umax, blank);
        }
        const int b = badgeOfStatus(line.Status);
        if (b >= 0 && !blank)
            v.shown.insert(QStringLiteral("N%1_Status_%2")
                               .arg(pl.line)
                               .arg(QLatin1String(kBadgeLetters[size_t(b)])));
    }
    const int a = state.Aktywna_Linia;
    const int entry =
        a >= 0 && a < int(l.diagramTable.size()) ? l.diagramTable[size_t(a)] : l.otherValues;
    if (entry != TMimicLayout::kKeep)
        diagram = entry;
    if (diagram == TMimicLayout::kOff)
        v.shown.insert(l.off.name);
    else if (diagram >= 0 && diagram < int(l.active.size()) && !blank)
        v.shown.insert(l.active[size_t(diagram)].name);
    for (const TPanelLayout& pl : l.panels)
        v.shown.insert(QStringLiteral("N%1_Wykres").arg(pl.line));
    return v;
}

QJsonObject mimicLayoutJson(const TMimicLayout& l) {
    QJsonArray elements;
    for (const TMimicElement& e : mimicElements(l)) {
        QJsonObject o{{"name", e.name},
                      {"kind", e.kind == TMimicElement::Picture   ? "picture"
                               : e.kind == TMimicElement::Reading ? "reading"
                                                                  : "chart"},
                      {"x", e.rect.x()},
                      {"y", e.rect.y()},
                      {"w", e.rect.width()},
                      {"h", e.rect.height()},
                      {"spoken", e.spoken}};
        if (!e.file.isEmpty())
            o[u"file"] = e.file;
        if (e.line)
            o[u"line"] = e.line;
        if (e.phase)
            o[u"phase"] = e.phase;
        elements.append(o);
    }
    QJsonArray panels;
    for (const TPanelLayout& pl : l.panels) {
        QJsonArray colours;
        for (unsigned c : pl.colours)
            colours.append(colourText(c));
        panels.append(QJsonObject{{"line", pl.line},
                                  {"tag", pl.tag},
                                  {"colours", colours},
                                  {"axisMin", pl.axisMin},
                                  {"axisMax", pl.axisMax}});
    }
    return QJsonObject{{"program", l.program},      {"caption", l.caption},
                       {"width", l.client.width()}, {"height", l.client.height()},
                       {"elements", elements},      {"panels", panels}};
}

} // namespace qta
