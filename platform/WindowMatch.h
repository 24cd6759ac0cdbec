#pragma once

#include "Services.h"

#include <QString>
#include <vector>

// A window that may receive keystrokes, as listed by the window system.
struct CandidateWindow
{
    WindowId id = 0;
    QString title;
    bool ownWindow = false; // one of Keyflare's own windows: never a target
};

// Picks the window for a target title among windows listed bottom to top. The best kind of match
// wins: a title equal to the target; else one equal without regard to case; else one that begins
// with the target without regard to case (a grabbed title keeps only the first 99 characters of
// a longer one). Titles are literal text, never patterns. Among windows of the best kind, the
// topmost wins. Returns the window's id, or 0 when none matches or the target is empty.
WindowId chooseTargetWindow(const std::vector<CandidateWindow>& bottomToTop, const QString& target);

// A window's title as the grabber keeps it: its first 99 characters (code points, so that no
// character outside the Basic Multilingual Plane is cut in half).
QString grabbedTitle(const QString& title);
