#include "SendFailure.h"

namespace {
// Why nothing was typed, and what to do: the text after "Nothing was typed into <title>: ".
QString whyNothing(Typing result)
{
    // On KDE Plasma the characters the layout lacks come through the clipboard.
    const QString viaClipboard =
        QStringLiteral("on this desktop the text's characters that the keyboard layout lacks "
                       "come through the clipboard, and ");
    switch (result) {
    case Typing::ModifiersHeld:
        return QStringLiteral("a Shift, Ctrl or Alt key is held down.\r\n\r\nRelease it, then "
                              "click the button again.");
    case Typing::Untypable:
        return QStringLiteral("the text holds characters that the keyboard layout cannot type."
                              "\r\n\r\nChange the text in the button editor, or switch to a "
                              "layout that has them.");
    case Typing::NoFreeKeys:
        return QStringLiteral("the text needs keys for characters that the keyboard layout "
                              "lacks, and other programs hold every free key (another copy of "
                              "Keyflare gives its keys back half a minute after its last send)."
                              "\r\n\r\nWait a moment, then click the button again.");
    case Typing::Busy:
        return QStringLiteral("the window that received the last text is still reading it."
                              "\r\n\r\nWait a moment, then click the button again.");
    case Typing::ClipboardSecret:
        return viaClipboard +
               QStringLiteral("the clipboard holds a password that a password manager marked "
                              "secret. Keyflare leaves it untouched.\r\n\r\nClick the button "
                              "again once the password manager has cleared the clipboard.");
    case Typing::ClipboardFailed:
        return viaClipboard +
               QStringLiteral("Keyflare could not keep the clipboard's contents safe while it "
                              "lends it: the program that holds them did not hand them over, or "
                              "keyflare-clipboard, installed beside Keyflare, could not start."
                              "\r\n\r\nClick the button again.");
    default:
        return QString();
    }
}

// Why typing stopped part way: the text after "Typing into <title> stopped: ".
QString whyStopped(Typing result)
{
    switch (result) {
    case Typing::PasteMissing:
        return QStringLiteral("the window did not paste the characters that came through the "
                              "clipboard.\r\n\r\nPart of the text may have arrived. The "
                              "clipboard holds that text until the window pastes it or the next "
                              "text has been pasted; then it gets your own contents back.");
    case Typing::ClipboardTaken:
        return QStringLiteral("something was copied to the clipboard while Keyflare pasted "
                              "through it.\r\n\r\nPart of the text may have arrived. The "
                              "clipboard keeps what was copied.");
    case Typing::LayoutSwitched:
        return QStringLiteral("the keyboard layout was switched.\r\n\r\nPart of the text may "
                              "have arrived.");
    default:
        return QStringLiteral("another window took the keyboard focus.\r\n\r\nPart of the text "
                              "may have arrived.");
    }
}
} // namespace

QString sendFailureMessage(const QString& title, bool reached, Typing result)
{
    if (!reached || result == Typing::Unavailable)
        return QStringLiteral("Unable to communicate with ") + title;
    const QString nothing = whyNothing(result);
    if (!nothing.isEmpty())
        return QStringLiteral("Nothing was typed into %1: ").arg(title) + nothing;
    return QStringLiteral("Typing into %1 stopped: ").arg(title) + whyStopped(result);
}
