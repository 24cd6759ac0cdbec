#include "SendFailure.h"

QString sendFailureMessage(const QString& title, bool reached, Typing result)
{
    if (!reached || result == Typing::Unavailable)
        return QStringLiteral("Unable to communicate with ") + title;
    if (result == Typing::ModifiersHeld)
        return QStringLiteral("Nothing was typed into %1: a Shift, Ctrl or Alt key is held down."
                              "\r\n\r\nRelease it, then click the button again.")
            .arg(title);
    if (result == Typing::Untypable)
        return QStringLiteral("Nothing was typed into %1: the text holds characters that the "
                              "keyboard layout cannot type.\r\n\r\nChange the text in the button "
                              "editor, or switch to a layout that has them.")
            .arg(title);
    if (result == Typing::NoFreeKeys)
        return QStringLiteral(
                   "Nothing was typed into %1: the text needs keys for characters that "
                   "the keyboard layout lacks, and other programs hold every free key "
                   "(another copy of Keyflare gives its keys back half a minute after its "
                   "last send).\r\n\r\nWait a moment, then click the button again.")
            .arg(title);
    if (result == Typing::Busy)
        return QStringLiteral("Nothing was typed into %1: the window that received the last "
                              "text is still reading it.\r\n\r\nWait a moment, then click the "
                              "button again.")
            .arg(title);
    if (result == Typing::LayoutSwitched)
        return QStringLiteral("Typing into %1 stopped: the keyboard layout was switched."
                              "\r\n\r\nPart of the text may have arrived.")
            .arg(title);
    return QStringLiteral("Typing into %1 stopped: another window took the keyboard focus."
                          "\r\n\r\nPart of the text may have arrived.")
        .arg(title);
}
