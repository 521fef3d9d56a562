// Where the boxes, lists and markers of the settings editors sit over their
// pictures. The pictures (artwork/generate_settings.py) put their labels at
// the same numbers, so change both together.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace qta::art {

// Configuration editor: the tab pages and their pictures.
constexpr int kPageHeight = 344;
constexpr QSize kPageArt{393, 310};

// "Napięcia": three line panels of 124 px from x = 4 + 130 n; rows U_Min,
// U_Hist, U_Max with text baselines 194, 230, 266; box after the row's name.
constexpr int kPanelX0 = 4, kPanelStep = 130, kPanelWidth = 124;
constexpr int kRowBaseline[3] = {194, 230, 266};
constexpr QRect voltageBox(int line, int row) {
    return {kPanelX0 + kPanelStep * line + 56, kRowBaseline[row] - 15, 42, 20};
}

// "Czasy": spans T Kwal ON, T Min, T Kwal OFF with their centres; the boxes
// under the span names.
constexpr int kTimeCentre[3] = {110, 205, 295};
constexpr int kTimeBoxTop = 196;
constexpr QRect timeBox(int i) { return {kTimeCentre[i] - 24, kTimeBoxTop, 40, 20}; }

// "Aparaty": the list above the picture; spans T Off, T D, T On.
constexpr QRect kListRect{8, 6, 200, 24};
constexpr int kApparatusTop = 36;
constexpr QSize kApparatusArt{393, 274};
constexpr int kApparatusCentre[3] = {130, 195, 260};
constexpr int kApparatusBoxTop = 158; // in the picture
constexpr QRect apparatusBox(int i) {
    return {kApparatusCentre[i] - 24, kApparatusTop + kApparatusBoxTop, 40, 20};
}

// "Tryb": program list, program picture, main line, shedding panel.
constexpr QRect kProgramPicture{0, 36, 393, 150};
constexpr QRect kMainLineCaption{8, 194, 90, 24};
constexpr QRect kMainLineList{100, 194, 150, 24};
constexpr QRect kSheddingPanel{0, 226, 393, 80};
constexpr int kSheddingMarkerX[3] = {60, 180, 300};
constexpr int kSheddingMarkerY = 40; // in the panel
constexpr QPoint sheddingMarker(int line) {
    return {kSheddingMarkerX[line - 1], kSheddingPanel.top() + kSheddingMarkerY};
}

// Customisation editor: the section picture and its rows.
constexpr QRect kSectionsArt{8, 6, 264, 242};
constexpr int kMarkerX = 10;   // in the picture
constexpr int kBoxRight = 254; // in the picture
constexpr QSize kCustomBox{40, 17};
// Rows (centre y in the picture): per section the enabled row, then boxes.
constexpr int kEnabledRowY[4] = {27, 88, 166, 227};
constexpr int kBoxRowY[4] = {44, 105, 122, 183}; // delay, backlight time, brightness, duration

} // namespace qta::art
