#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QString>
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
        QString appId;
        uint32_t pid = 0;
        bool xwayland = false; // an X11 program, under Xwayland
        bool own = false;      // one of Keyflare's own windows
    };
    struct KeyboardState
    {
        uint32_t heldModifiers = 0;
        bool capsLock = false;
    };
    // What a typing request came to: the keys typed, and "done", "focus-lost", "busy",
    // "keymap-unknown" or "failed".
    struct Typed
    {
        uint32_t count = 0;
        QString outcome;
        uint32_t remappedUs = 0; // how long the user's own keys meant other characters
    };

    // True when the extension runs in this session and answers Keyflare.
    bool isAvailable();
    // True when the extension runs but refused this copy of Keyflare.
    bool refusedUs() const { return m_refused; }
    QString lastError() const { return m_lastError; }

    // Bottom to top.
    std::optional<std::vector<Window>> windows();
    // Activates window id and returns once it has the focus; false when it did not get it.
    bool activate(quint64 id);
    std::optional<Window> windowUnderPointer();
    std::optional<KeyboardState> keyboardState();
    // Puts the layouts of symbols in force (one a part, sections "p1", "p2", ...), types each
    // part's keysyms into window id with its layout while the window keeps the focus, and gives
    // the user's layouts back once the shell has passed every key on; for an X11 window, which
    // may read the keys later, the layouts made for the text stay beside the user's a while.
    std::optional<Typed> type(quint64 id, const QByteArray& symbols,
                              const std::vector<std::vector<uint32_t>>& parts);
    // Gives the user's keymap back now, where the layouts of a text still stand beside it.
    void restoreKeymap();

private:
    std::optional<QDBusMessage> call(const QString& method, const QList<QVariant>& args,
                                     int timeoutMs);

    bool m_refused = false;
    QString m_lastError;
};
