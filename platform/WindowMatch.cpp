#include "WindowMatch.h"

WindowId chooseTargetWindow(const std::vector<CandidateWindow>& bottomToTop, const QString& target)
{
    if (target.isEmpty())
        return 0;
    const QString folded = target.toCaseFolded();
    WindowId best = 0;
    int bestRank = 0; // 3 exact, 2 exact without case, 1 prefix without case
    for (const CandidateWindow& w : bottomToTop) {
        if (w.ownWindow || w.id == 0)
            continue;
        int rank = 0;
        if (w.title == target)
            rank = 3;
        else if (w.title.toCaseFolded() == folded)
            rank = 2;
        else if (w.title.toCaseFolded().startsWith(folded))
            rank = 1;
        // ">=" lets a later (higher) window of the same rank win.
        if (rank > 0 && rank >= bestRank) {
            best = w.id;
            bestRank = rank;
        }
    }
    return best;
}

QString grabbedTitle(const QString& title)
{
    constexpr int kLimit = 99;
    int count = 0;
    for (qsizetype i = 0; i < title.size(); ++i) {
        if (count == kLimit)
            return title.left(i);
        if (title.at(i).isHighSurrogate() && i + 1 < title.size() &&
            title.at(i + 1).isLowSurrogate())
            ++i;
        ++count;
    }
    return title;
}
