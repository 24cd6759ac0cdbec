#pragma once

#include "WindowChanges.h"

#include <QString>
#include <optional>
#include <vector>

class QWidget;

// The services that Keyflare needs from the desktop, each a narrow interface that every backend
// (X11, wlroots, KWin, GNOME) implements, and the recording fake that tests build windows on.

class NonCopyable
{
public:
    NonCopyable() = default;
    virtual ~NonCopyable() = default;
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};

// Per-user string values under the application "Keyflare", group "Settings".
class SettingsStore : public NonCopyable
{
public:
    // The stored value of key, or defaultValue when the key does not exist.
    virtual QString read(const QString& key, const QString& defaultValue) = 0;
    // Stores value under key; nothing is reported when the store cannot be written.
    virtual void write(const QString& key, const QString& value) = 0;
};

// Where the macro sets and the title list are kept.
class ProgramFolder : public NonCopyable
{
public:
    // The folder's path, always ending in "/"; the folder exists when this returns.
    virtual QString path() = 0;
};

// Lets pending events of Keyflare's own windows run.
class EventLoop : public NonCopyable
{
public:
    // Processes the pending window events, then returns.
    virtual void yield() = 0;
};

// A window of another application, as the desktop names it; 0 is no window.
using WindowId = quint64;

// Brings another application's window to the front by its title.
class WindowActivation : public NonCopyable
{
public:
    // Activates the best window matching title and returns it once it holds the keyboard focus;
    // 0 when no window matches or the focus does not arrive in time.
    virtual WindowId activate(const QString& title) = 0;
    // Why no window of another program can be reached on this desktop at all, for the user;
    // empty where windows can be reached.
    virtual QString unavailableReason() const { return QString(); }
};

// How a typing request ended.
enum class Typing
{
    Done,            // every key was delivered
    FocusLost,       // the target does not hold the focus (any more); typing stopped there
    LayoutSwitched,  // the user switched the keyboard layout during the send; typing stopped there
    ModifiersHeld,   // a Shift, Ctrl or Alt key stayed held; nothing was typed
    Untypable,       // the text holds a character that cannot be typed here; nothing was typed
    Busy,            // a program is still reading keys typed earlier; nothing was typed
    NoFreeKeys,      // no key is free for characters the layout lacks (others hold them); nothing
                     // was typed
    ClipboardSecret, // the text needs the clipboard, which holds a secret; nothing was typed
    ClipboardFailed, // the text needs the clipboard, whose contents could not be kept safe;
                     // nothing was typed
    PasteMissing,    // the target did not paste what the clipboard brought; typing stopped there
    ClipboardTaken,  // something was copied while a paste waited; typing stopped there
    Unavailable      // the desktop cannot type into other windows, or its connection broke
};

// Types keystroke strings into another application's window.
class KeyInjection : public NonCopyable
{
public:
    // Types keys (characters, "{x}" for the ten reserved characters, "{ENTER}", "{TAB}") into
    // target, which activate() returned, and returns once the desktop has delivered them. A
    // malformed string types nothing and counts as Untypable. No key stays pressed after a
    // return, whatever the result.
    virtual Typing inject(WindowId target, const QString& keys) = 0;
    // Waits, up to two seconds, until the user holds no Shift, Ctrl or Alt key, which would
    // combine with the keys typed; asked before the target is activated, while Keyflare's own
    // window still has the keyboard. ModifiersHeld when one stays held.
    virtual Typing awaitReleasedModifiers() { return Typing::Done; }
};

// The band of windows that stay above all ordinary windows.
class TopmostBand : public NonCopyable
{
public:
    // Puts window into the topmost band (on) or takes it out (off), without moving it.
    virtual void setTopmost(QWidget* window, bool on) = 0;
};

// A window of another application, as seen under the mouse pointer.
struct PointedWindow
{
    WindowId id = 0;        // 0 when no window is under the pointer
    QString title;          // the application window's title, at most 99 characters
    bool ownWindow = false; // one of Keyflare's own (where the desktop says so; X11 gives ids)
};

// Finds the window under the mouse pointer.
class PointerWindows : public NonCopyable
{
public:
    // The application window under the pointer and its title.
    virtual PointedWindow windowUnderPointer() = 0;
    // True when the desktop cannot tell what is under the pointer and windowUnderPointer() gives
    // the window most recently made active instead (Wayland).
    virtual bool followsActivation() const { return false; }
};

// A window that may receive keystrokes, as listed by the window system.
struct CandidateWindow
{
    WindowId id = 0;
    QString title;
    bool ownWindow = false; // one of Keyflare's own windows: never a target
    QString program;        // the program it belongs to, as the desktop names it; may be empty
};

// The windows a title may name, and word of every change to them.
class WindowList : public NonCopyable
{
public:
    // The windows, bottom to top; nothing where the desktop does not tell which windows are open.
    virtual std::optional<std::vector<CandidateWindow>> windows() { return std::nullopt; }
    // Signals, from the event loop, that windows opened, closed, were renamed or restacked, or
    // that the desktop began or ceased to tell of them. Told by the desktop, never polled for.
    WindowChanges& changes() { return m_changes; }

protected:
    WindowChanges m_changes;
};

// One desktop's backend: its windows, the keys typed into them, the window under the pointer and
// the list of windows, which always go together. DesktopPlatform holds the one the session calls
// for.
class DesktopBackend : public WindowActivation,
                       public KeyInjection,
                       public PointerWindows,
                       public WindowList
{
public:
    // Why the last activation or typing request failed, for diagnostics; empty when it did not.
    virtual QString lastError() const { return QString(); }
};

// Message boxes and the one-line input box; tests answer them without showing anything.
class Dialogs : public NonCopyable
{
public:
    // Answers of message(), as the design numbers them.
    enum Answer
    {
        Ok = 1,
        Cancel = 2,
        Yes = 6,
        No = 7
    };
    // Button sets and icons, summed into a style.
    enum Style
    {
        OkOnly = 0,
        YesNoCancel = 3,
        YesNo = 4,
        Question = 32,
        Exclamation = 48
    };

    // Shows text titled "Keyflare" with the buttons and icon of style; the first button is the
    // default. Returns the answer.
    virtual int message(const QString& text, int style) = 0;
    // Asks for one line of text; returns the text entered, or an empty string for Cancel.
    virtual QString input(const QString& prompt, const QString& title, const QString& preset) = 0;
};

// Everything the windows receive from the platform: references to services that outlive every
// window. Windows keep a copy of this bundle, never a reference to it.
struct Platform
{
    SettingsStore& settings;
    ProgramFolder& folder;
    EventLoop& events;
    WindowActivation& activation;
    KeyInjection& keys;
    TopmostBand& topmost;
    PointerWindows& pointer;
    WindowList& windows;
    Dialogs& dialogs;
};
