#include "MacroKeys.h"

QString keystrokeString(const QString& text)
{
    static const QString reserved = QStringLiteral("~+^%(){}[]");
    QString keys;
    keys.reserve(text.size() * 3);
    for (const QChar c : text) {
        if (reserved.contains(c)) {
            keys += QLatin1Char('{');
            keys += c;
            keys += QLatin1Char('}');
        } else {
            keys += c;
        }
    }
    return keys;
}
