#pragma once

#include <QRect>
#include <cmath>

// Window layouts are given in 1/1440 inch; 15 of these units make one logical pixel, and Qt's
// scaling takes it from there.
constexpr double kUnitsPerPixel = 15.0;

inline int px(int units)
{
    return static_cast<int>(std::lround(units / kUnitsPerPixel));
}

inline QRect unitRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}
