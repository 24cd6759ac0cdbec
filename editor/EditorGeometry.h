#pragma once

#include <QRect>

// Where the button editor's controls stand, in layout units (1/1440 inch) of its client area;
// the selector, the number and the preview are placed within their frames.
namespace EditorGeometry {

constexpr int kWidth = 9045;
constexpr int kHeight = 1665;

constexpr QRect kCaptionLabel(75, 15, 3195, 240);
constexpr QRect kCaption(75, 315, 3195, 330);
constexpr QRect kTextLabel(30, 1080, 6735, 240);
constexpr QRect kText(15, 1320, 8955, 330);
constexpr QRect kTabKey(6870, 1020, 2085, 270);
constexpr QRect kApply(7665, 0, 1300, 300);
constexpr QRect kUndo(7665, 285, 1300, 300);
constexpr QRect kClose(7665, 570, 1300, 300);
constexpr QRect kNumberFrame(5625, 30, 1740, 675);
constexpr QRect kSelectorInFrame(195, 255, 765, 360);
constexpr QRect kNumberInFrame(1065, 270, 525, 300);
constexpr QRect kPreviewFrame(3585, 30, 1755, 675);
constexpr QRect kPreviewInFrame(120, 285, 1545, 285);

} // namespace EditorGeometry
