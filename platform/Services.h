#pragma once

#include <QString>

class QWidget;

// The services that Keyflare needs from the desktop, each a narrow interface so that windows can be
// built on the recording fake in tests and on another backend (Wayland) later.

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

// Brings another application's window to the front by its title.
class WindowActivation : public NonCopyable
{
public:
    // Activates the best window matching title and returns true once it holds the keyboard focus;
    // false when no window matches or the focus does not arrive in time.
    virtual bool activate(const QString& title) = 0;
};

// Types a keystroke string into the window that activate() last brought to the front.
class KeyInjection : public NonCopyable
{
public:
    // Types keys (characters, "{x}" for the ten reserved characters, "{ENTER}", "{TAB}") and
    // returns once the server has delivered them. Returns false, typing nothing, when the string is
    // malformed or holds a character that cannot be typed; returns false, stopping at once, when
    // the focus leaves the target. No key stays pressed after a return, successful or not.
    virtual bool inject(const QString& keys) = 0;
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
    quint32 id = 0; // 0 when no window is under the pointer
    QString title;  // the application window's title, at most 99 characters
};

// Finds the window under the mouse pointer.
class PointerWindows : public NonCopyable
{
public:
    // The application window under the pointer and its title.
    virtual PointedWindow windowUnderPointer() = 0;
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

// Everything the windows receive from the platform, by reference.
struct Platform
{
    SettingsStore& settings;
    ProgramFolder& folder;
    EventLoop& events;
    WindowActivation& activation;
    KeyInjection& keys;
    TopmostBand& topmost;
    PointerWindows& pointer;
    Dialogs& dialogs;
};
