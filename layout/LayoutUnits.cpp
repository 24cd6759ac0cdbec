#include "LayoutUnits.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>
#include <algorithm>

// The text in the control's font, plus what the control draws around it. (Widgets' own size
// hints ask for more, such as a minimum button width, which the layout never promised.)
QSize UnitLayout::textNeed(const QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    QString text;
    if (const auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text();
    else if (const auto* l = qobject_cast<const QLabel*>(w))
        text = l->text();
    else if (const auto* g = qobject_cast<const QGroupBox*>(w))
        text = g->title();
    text.remove(QLatin1Char('&'));
    int width = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        width = std::max(width, fm.horizontalAdvance(line));
    int height = static_cast<int>(lines.size()) * fm.height();
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
        const bool radio = qobject_cast<const QRadioButton*>(w) != nullptr;
        const int indicator = w->style()->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth
                                                            : QStyle::PM_IndicatorWidth);
        width += indicator + 6;
        height = std::max(height, indicator);
    } else if (qobject_cast<const QGroupBox*>(w)) {
        width += 16;
    } else if (qobject_cast<const QAbstractButton*>(w)) {
        width += 8;
        height += 4;
    } else if (!qobject_cast<const QLabel*>(w)) {
        height += 6; // a text box's frame
    }
    return QSize(width, height);
}

UnitLayout::UnitLayout(QWidget* window, int clientWidth, int clientHeight)
    : m_window(window), m_client(0, 0, clientWidth, clientHeight)
{
}

void UnitLayout::place(QWidget* control, QRect units, Fit fit)
{
    m_items.append({control, units, fit});
    control->setProperty("layoutUnits", units);
    control->setProperty("layoutFit", static_cast<int>(fit));
    control->setGeometry(scaled(units));
}

QRect UnitLayout::scaled(QRect units) const
{
    const auto at = [this](int u) {
        return static_cast<int>(std::lround(u * m_scale / kUnitsPerPixel));
    };
    // Edges are scaled, not sizes, so that controls meeting edge to edge still meet.
    return QRect(
        QPoint(at(units.left()), at(units.top())),
        QPoint(at(units.left() + units.width()) - 1, at(units.top() + units.height()) - 1));
}

void UnitLayout::apply()
{
    double needed = 1.0;
    for (const Item& item : m_items) {
        if (item.fit == Nothing)
            continue;
        const QSize hint = textNeed(item.control);
        const double w = item.units.width() / kUnitsPerPixel;
        const double h = item.units.height() / kUnitsPerPixel;
        needed = std::max(needed, hint.height() / h);
        if (item.fit == Everything)
            needed = std::max(needed, hint.width() / w);
    }
    // A little room to spare, in steps, so that the scale does not depend on a pixel.
    m_scale = std::min(3.0, std::ceil(needed * 20.0) / 20.0);
    m_window->setFixedSize(scaled(m_client).size());
    for (const Item& item : m_items)
        item.control->setGeometry(scaled(item.units));
}
