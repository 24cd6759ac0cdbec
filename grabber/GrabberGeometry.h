#pragma once

#include <QRect>

// Where the title grabber's controls stand, in layout units (1/1440 inch) of its client area.
namespace GrabberGeometry {

constexpr int kWidth = 4020;
constexpr int kHeight = 1665;

constexpr QRect kInstructions(0, 0, 4020, 750);
constexpr QRect kTitle(90, 750, 3750, 300);
// Added left of "Cancel", under the title it speaks of.
constexpr QRect kTargetLine(90, 1245, 1290, 225);
// Below the client area: never seen, but as the default button it takes ENTER.
constexpr QRect kTake(285, 1830, 375, 495);
constexpr QRect kCancel(1440, 1170, 1215, 375);

} // namespace GrabberGeometry
