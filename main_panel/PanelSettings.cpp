#include "PanelSettings.h"

#include <cmath>
#include <limits>

namespace {

// A stored number as a whole number within [min, max]; false when it is not a number or does
// not fit. "1.0" counts as 1.
bool toWhole(const QString& stored, long long min, long long max, long long* out)
{
    const QString s = stored.trimmed();
    bool ok = false;
    long long v = s.toLongLong(&ok);
    if (!ok) {
        const double d = s.toDouble(&ok);
        if (!ok || !std::isfinite(d) || d < static_cast<double>(min) - 0.5 ||
            d > static_cast<double>(max) + 0.5)
            return false;
        v = std::llround(d);
    }
    if (v < min || v > max)
        return false;
    *out = v;
    return true;
}

int toPosition(const QString& stored)
{
    long long v = 0;
    return toWhole(stored, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &v)
               ? static_cast<int>(v)
               : 0;
}

// Only the 16-bit value 1 ticks a box.
bool toTicked(const QString& stored)
{
    long long v = 0;
    return toWhole(stored, -32768, 32767, &v) && v == 1;
}

QString tick(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

PanelSettings PanelSettings::read(SettingsStore& store)
{
    PanelSettings s;
    s.top = toPosition(store.read(QStringLiteral("Top"), QStringLiteral("0")));
    s.left = toPosition(store.read(QStringLiteral("Left"), QStringLiteral("0")));
    s.onTop = toTicked(store.read(QStringLiteral("On Top"), QStringLiteral("0")));
    s.carriageReturn = toTicked(store.read(QStringLiteral("CrgReturn"), QStringLiteral("1")));
    s.autoSave = toTicked(store.read(QStringLiteral("AutoSav"), QStringLiteral("0")));
    return s;
}

void PanelSettings::write(SettingsStore& store, bool withPosition) const
{
    store.write(QStringLiteral("On Top"), tick(onTop));
    store.write(QStringLiteral("CrgReturn"), tick(carriageReturn));
    store.write(QStringLiteral("AutoSav"), tick(autoSave));
    if (withPosition) {
        store.write(QStringLiteral("Top"), QString::number(top));
        store.write(QStringLiteral("Left"), QString::number(left));
    }
}
