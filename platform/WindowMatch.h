#pragma once

#include "Services.h"

#include <QString>
#include <vector>

// What a title names among windows listed bottom to top: the window a send would type into
// (null when none matches) and how many windows match as well as it does.
struct TargetMatch
{
    const CandidateWindow* chosen = nullptr;
    int count = 0;
};

// Finds the window for a target title among windows listed bottom to top. The best kind of match
// wins: a title equal to the target; else one equal without regard to case; else one that begins
// with the target without regard to case (a grabbed title keeps only the first 99 characters of
// a longer one). Titles are literal text, never patterns. Among windows of the best kind, the
// topmost wins. An empty target matches nothing.
TargetMatch matchTarget(const std::vector<CandidateWindow>& bottomToTop, const QString& target);
// The id of matchTarget()'s window; 0 when none matches.
WindowId chooseTargetWindow(const std::vector<CandidateWindow>& bottomToTop, const QString& target);

// A window's title as the grabber keeps it: its first 99 characters (code points, so that no
// character outside the Basic Multilingual Plane is cut in half).
QString grabbedTitle(const QString& title);
