#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QString>

class QObject;
#include <cstdint>
#include <optional>
#include <vector>

// Keyflare's extension inside GNOME Shell, reached over the session bus: the only way a program
// can list, activate and type into other windows there. Every call waits a bounded time, letting
// Keyflare's own windows paint meanwhile.
class GnomeShell
{
public:
    // A window as the shell tells of it.
    struct Window
    {
        quint64 id = 0;
        QString title;
        bool own = false; // one of Keyflare's own windows
        QString program;  // its class, as the program names it
    };
    // What a typing request came to: the keys typed, and how the send ended (one of ShellOutcome,
    // in ShellNames.h).
    struct Typed
    {
        uint32_t count = 0;
        QString outcome;
        uint32_t remappedUs = 0; // how long the user's own keys meant other characters
    };

    // True when the extension runs inside the session's GNOME Shell, is as new as this Keyflare,
    // and answers this copy.
    bool isAvailable();
    // True when the extension runs but refused this copy of Keyflare.
    bool refusedUs() const { return m_refused; }
    // True when the extension that runs is older than this Keyflare.
    bool isStale() const { return m_stale; }
    QString lastError() const { return m_lastError; }

    // Bottom to top.
    std::optional<std::vector<Window>> windows();
    // Has the extension tell this connection, and it alone, of every change to the windows:
    // receiver's slot runs at each. Asked anew of each shell that takes the extension's name.
    bool watchWindows(QObject* receiver, const char* slot);
    // The shell's connection on the bus that holds the extension's name; empty where none does.
    QString owner() { return shellOwner(); }
    // Activates window id and returns once it has the focus; false when it did not get it.
    bool activate(quint64 id);
    std::optional<Window> windowUnderPointer();
    // The modifiers held on any keyboard.
    std::optional<uint32_t> heldModifiers();
    // Puts the layouts of symbols in force (one a part, sections "p1", "p2", ...), types each
    // part's keysyms into window id with its layout while the window keeps the focus, and gives
    // the user's layouts back once the shell has passed every key on; for an X11 window, which
    // may read the keys later, the layouts made for the text stay beside the user's a while. The
    // shell types for at most typeLimitMs(parts); Keyflare waits that long and a little more.
    std::optional<Typed> type(quint64 id, const QByteArray& symbols,
                              const std::vector<std::vector<uint32_t>>& parts);
    // How long the shell may take to type parts.
    static uint typeLimitMs(const std::vector<std::vector<uint32_t>>& parts);
    // Gives the user's keymap back now, where the layouts of a text still stand beside it.
    void restoreKeymap();

private:
    // The shell's own connection on the bus, where it holds the extension's name; empty when
    // the extension's name is not the shell's (another program may take it while the screen is
    // locked and the extension is off).
    QString shellOwner();
    // Calls method of the extension's interface (or of interface) at the shell's connection.
    std::optional<QDBusMessage> call(const QString& method, const QList<QVariant>& args,
                                     int timeoutMs, const QString& interface = QString());

    QString m_owner; // a bus never gives a connection's name to another
    bool m_refused = false;
    bool m_stale = false;
    QString m_lastError;
};
