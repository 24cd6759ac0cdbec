#include "WindowMatch.h"

TargetMatch matchTarget(const std::vector<CandidateWindow>& bottomToTop, const QString& target)
{
    TargetMatch match;
    if (target.isEmpty())
        return match;
    const QString folded = target.toCaseFolded();
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
        if (rank == 0 || rank < bestRank)
            continue;
        match.count = rank == bestRank ? match.count + 1 : 1;
        // A later (higher) window of the same rank wins.
        match.chosen = &w;
        bestRank = rank;
    }
    return match;
}

WindowId chooseTargetWindow(const std::vector<CandidateWindow>& bottomToTop, const QString& target)
{
    const TargetMatch match = matchTarget(bottomToTop, target);
    return match.chosen ? match.chosen->id : 0;
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
