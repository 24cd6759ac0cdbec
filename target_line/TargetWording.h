#pragma once

#include "Services.h"

#include <QString>
#include <optional>
#include <vector>

// What the line beside a target title says a click would do now.
struct TargetWording
{
    QString shortText;  // for the line itself, which cuts it to its width
    QString detail;     // the whole of it, for the tooltip and screen readers
    bool found = false; // a window would receive the text
};

// The wording for title among windows (bottom to top; none where the desktop does not tell),
// matched as a send matches it. A blank title says nothing.
TargetWording describeTarget(const QString& title,
                             const std::optional<std::vector<CandidateWindow>>& windows);
