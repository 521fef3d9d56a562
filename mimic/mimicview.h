// A mimic window as data, for what draws it elsewhere (the site console):
// its elements by the names the window gives its components, where they sit
// and which picture each shows, and for a controller state which of them are
// shown and what the readings say, by the window's own rules.
#pragma once

#include "mimic/mimiclayouts.h"

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>

namespace qta {

class TQTA504Core;

struct TMimicElement {
    enum Kind { Picture, Reading, Chart };
    Kind kind = Picture;
    QString name;   // the window's component name: "N1L2_Max_Off", "N3_Status_B"
    QString file;   // the artwork's SVG (pictures)
    QString spoken; // what a screen reader says of it
    QRect rect;
    int line = 0;  // readings and charts: the controller's line
    int phase = 0; // readings: 1..3
    bool shownAtStart = true;
};

// In the window's stacking order, bottom first.
std::vector<TMimicElement> mimicElements(const TMimicLayout& layout);

// What a window shows for a state. `diagram` carries the supply picture last
// selected (kOff at first), as the window keeps it between refreshes. A
// link-testing window blanks once the link has been down for kBlankAfterMs;
// `linkDownLong` says whether it has.
struct TMimicView {
    QSet<QString> shown;
    QMap<QString, QString> readings; // reading element -> its text
};
TMimicView mimicView(const TMimicLayout& layout, const TQTA504Core& state, int& diagram,
                     bool linkDownLong = true);
inline constexpr int kBlankAfterMs = 2750;

// The layout with its elements as JSON for the console's page.
QJsonObject mimicLayoutJson(const TMimicLayout& layout);

} // namespace qta
