#pragma once

#include <QRect>

// Where the main panel's controls stand, in layout units (1/1440 inch) of its client area; the
// frame's option buttons are placed within the frame.
namespace PanelGeometry {

constexpr int kWidth = 9225;
constexpr int kHeight = 1875;
constexpr int kSetSize = 24;

// Macro button index (0 to 47). The two grids differ by design: set "1-24" overlaps by 15 both
// ways, set "25-48" meets edge to edge from row to row.
constexpr QRect macroButton(int index)
{
    const int k = index % kSetSize;
    return index < kSetSize ? QRect(15 + 1530 * (k % 6), 15 + 270 * (k / 6), 1545, 285)
                            : QRect(1530 * (k % 6), 285 * (k / 6), 1545, 285);
}

constexpr QRect kSaveAs(8190, 1215, 1000, 300);
constexpr QRect kClear(7140, 1215, 1005, 300);
constexpr QRect kOnTop(7290, 1620, 840, 195);
constexpr QRect kReturn(6285, 1605, 870, 195);
constexpr QRect kTab(6285, 1305, 795, 240);
constexpr QRect kAutoSave(8220, 1620, 1005, 210);
constexpr QRect kButtonSetFrame(4785, 1200, 1425, 525);
constexpr QRect kSet1InFrame(30, 240, 615, 195);
constexpr QRect kSet2InFrame(675, 240, 720, 195);
constexpr QRect kGrabTitle(15, 1230, 555, 555);
constexpr QRect kTitleBox(645, 1380, 2550, 315);
constexpr QRect kTitleLabel(690, 1185, 1125, 195);
// Added beside the title's label, in the room left between it and the set's.
constexpr QRect kTargetLine(1830, 1185, 1365, 195);
constexpr QRect kSetBox(3210, 1380, 1530, 315);
constexpr QRect kSetLabel(3240, 1185, 1140, 195);

} // namespace PanelGeometry
