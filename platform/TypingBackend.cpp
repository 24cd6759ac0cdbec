#include "TypingBackend.h"

#include "HeldModifiers.h"
#include "KeystrokeString.h"

WindowId TypingBackend::activate(const QString& title)
{
    // Cleared here, so that a missing window is told even after another request failed.
    m_lastError.clear();
    return activateMatch(title);
}

Typing TypingBackend::inject(WindowId target, const QString& keys)
{
    m_lastError.clear();
    const auto chars = keystrokeCharacters(keys, &m_lastError);
    if (!chars)
        return Typing::Untypable;
    if (!canType())
        return Typing::Unavailable;
    return type(target, *chars);
}

Typing TypingBackend::awaitReleasedModifiers()
{
    return waitForReleasedModifiers();
}
