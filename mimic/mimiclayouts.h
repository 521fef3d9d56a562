// What tells the mimic windows apart: one table per operating program with the
// caption, the pictures, where every live element sits and how the supply
// diagram follows the active line. One window class draws them all.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <vector>

namespace qta {

// One line panel: three readings, three columns of lamps, a badge and a chart.
struct TPanelLayout {
    int line = 1;     // the controller's line that feeds the panel (element names N<line>...)
    QString tag;      // how the panel is spoken of: "N1", "N2", "G"
    QString genitive; // "linii N1", "generatora"
    std::array<int, 3> readingX{};
    std::array<int, 3> lampX{};
    int lampY = 72; // Vmax row; Vok 16 px lower, Vmin 32 px lower
    QPoint badge;
    QPoint chart;
    std::array<unsigned, 3> colours{}; // series L1, L2, L3 as 0xRRGGBB
    int axisMin = 80;                  // left axis, volts
    int axisMax = 305;
};

// One picture of the supply diagram.
struct TDiagramPicture {
    QString name;        // component name, e.g. "N1_Aktywna"
    QString file;        // SVG in the artwork
    QString description; // spoken state, e.g. "linia N1 aktywna"
};

struct TMimicLayout {
    // Supply-diagram table entries: the all-off picture, or leave the strip.
    static constexpr int kOff = -1;
    static constexpr int kKeep = -2;

    int program = 0;
    QString className; // TProg_1 ...
    QString caption;
    QSize client;
    bool sizeable = false;  // the program 2 frame can be enlarged
    QString backgroundName; // Image1 / Tlo
    QString backgroundFile;
    QSize backgroundSize;
    QString timerName; // Timer / Timer1
    std::vector<TPanelLayout> panels;
    QRect diagram;
    TDiagramPicture off;
    std::vector<TDiagramPicture> active;
    // Aktywna_Linia 0..15 -> index into `active`, kOff or kKeep; values
    // outside 0..15 take `otherValues`.
    std::array<int, 16> diagramTable{};
    int otherValues = kKeep;
    bool selfSwitch = false; // closes itself when another program is active
    bool linkTest = false;   // holds, then blanks, while the link is down
};

constexpr int kReadingY = 53;
constexpr QSize kReadingSize{32, 12};
constexpr QSize kLampSize{29, 16};
constexpr QSize kBadgeSize{99, 30};
constexpr QSize kChartSize{155, 125};

// The table of a program, nullptr for a program without a mimic window.
const TMimicLayout* mimicLayout(int program);

// The status badges A..D: letter, what they say, their picture.
inline constexpr std::array<const char*, 4> kBadgeLetters{"A", "B", "C", "D"};
inline constexpr std::array<const char*, 4> kBadgeTexts{
    "Linia zła", "Kwalifikacja linii jako złej", "Kwalifikacja linii jako dobrej", "Linia dobra"};
inline constexpr std::array<const char*, 4> kBadgeFiles{"badge_a.svg", "badge_b.svg", "badge_c.svg",
                                                        "badge_d.svg"};
// Status 0..3 -> badge A, C, B, D (index into the tables above), -1 for
// another value: a line being qualified as good (1) shows the pale green
// badge C, one being qualified as bad (2) the orange badge B.
int badgeOfStatus(int status);

// Text of a phase-voltage reading: "---" up to 80 V, "81V" .. "299V", "+++" from 300 V.
QString mimicReadingText(int volts);

} // namespace qta
