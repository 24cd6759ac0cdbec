#pragma once

#include <QRect>
#include <QVector>
#include <cmath>

class QWidget;

// Window layouts are given in 1/1440 inch; 15 of these units make one logical pixel, and Qt's
// scaling takes it from there.
constexpr double kUnitsPerPixel = 15.0;

inline int px(int units)
{
    return static_cast<int>(std::lround(units / kUnitsPerPixel));
}

// Places a window's controls from rectangles in layout units. The layout was drawn for a narrow
// 8-point font; in the desktop's own font its captions would be cut off, so the whole layout is
// scaled by one factor, just large enough for every caption to fit. Proportions, alignments and
// the designed overlaps stay as drawn.
class UnitLayout
{
public:
    // What of a control's size hint must fit into its rectangle.
    enum Fit
    {
        Nothing,
        Height,
        Everything
    };

    // clientWidth and clientHeight: the window's client area in layout units.
    UnitLayout(QWidget* window, int clientWidth, int clientHeight);

    // Each control keeps its rectangle and fit as the properties "layoutUnits" and "layoutFit",
    // so that a check can tell designed overlaps from accidents.
    void place(QWidget* control, QRect units, Fit fit = Everything);
    // Works out the scale and gives the window and every control its size.
    void apply();
    double scale() const { return m_scale; }

    // What control needs for its text to show whole, in pixels.
    static QSize textNeed(const QWidget* control);

private:
    struct Item
    {
        QWidget* control;
        QRect units;
        Fit fit;
    };
    QRect scaled(QRect units) const;

    QWidget* m_window;
    QRect m_client;
    QVector<Item> m_items;
    double m_scale = 1.0;
};
