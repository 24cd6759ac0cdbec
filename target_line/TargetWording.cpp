#include "TargetWording.h"

#include "WindowMatch.h"

namespace {

// A window's title as the detail quotes it: a very long one is cut where a grabbed one is.
QString quoted(const QString& title)
{
    const QString cut = grabbedTitle(title);
    return QStringLiteral("\u201c%1%2\u201d").arg(cut, cut.size() < title.size() ? "\u2026" : "");
}

} // namespace

TargetWording describeTarget(const QString& title,
                             const std::optional<std::vector<CandidateWindow>>& windows)
{
    if (title.trimmed().isEmpty())
        return {};
    if (!windows) {
        return {QStringLiteral("Windows unknown"),
                QStringLiteral("This desktop does not tell Keyflare which windows are open, so it "
                               "cannot show which one would receive the text"),
                false};
    }
    const TargetMatch match = matchTarget(*windows, title);
    if (!match.chosen) {
        const QString none = QStringLiteral("No window matches");
        return {none, none, false};
    }
    const CandidateWindow& w = *match.chosen;
    QString named = quoted(w.title);
    if (!w.program.isEmpty())
        named += QStringLiteral(" (%1)").arg(w.program);
    const QString detail = match.count == 1
                               ? QStringLiteral("Receives the text: %1").arg(named)
                               : QStringLiteral("%1 windows match; the topmost receives it: %2")
                                     .arg(match.count)
                                     .arg(named);
    const QString shortText = match.count == 1
                                  ? QStringLiteral("\u2192 %1").arg(w.title)
                                  : QStringLiteral("\u2192 (%1) %2").arg(match.count).arg(w.title);
    return {shortText, detail, true};
}
