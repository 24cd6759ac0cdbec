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
    if (result == Typing::ClipboardSecret)
        return QStringLiteral("Nothing was typed into %1: on this desktop the text's characters "
                              "that the keyboard layout lacks come through the clipboard, and "
                              "the clipboard holds a password that a password manager marked "
                              "secret. Keyflare leaves it untouched.\r\n\r\nClick the button "
                              "again once the password manager has cleared the clipboard.")
            .arg(title);
    if (result == Typing::ClipboardFailed)
        return QStringLiteral("Nothing was typed into %1: on this desktop the text's characters "
                              "that the keyboard layout lacks come through the clipboard, and "
                              "Keyflare could not keep the clipboard's contents safe while it "
                              "lends it: the program that holds them did not hand them over."
                              "\r\n\r\nClick the button again.")
            .arg(title);
    if (result == Typing::PasteMissing)
        return QStringLiteral("Typing into %1 stopped: the window did not paste the characters "
                              "that came through the clipboard.\r\n\r\nPart of the text may "
                              "have arrived. The clipboard holds that text until the window "
                              "pastes it or the next text has been pasted; then it gets your "
                              "own contents back.")
            .arg(title);
    if (result == Typing::ClipboardTaken)
        return QStringLiteral("Typing into %1 stopped: something was copied to the clipboard "
                              "while Keyflare pasted through it.\r\n\r\nPart of the text may "
                              "have arrived. The clipboard keeps what was copied.")
            .arg(title);
    if (result == Typing::LayoutSwitched)
        return QStringLiteral("Typing into %1 stopped: the keyboard layout was switched."
                              "\r\n\r\nPart of the text may have arrived.")
            .arg(title);
    return QStringLiteral("Typing into %1 stopped: another window took the keyboard focus."
                          "\r\n\r\nPart of the text may have arrived.")
        .arg(title);
}
