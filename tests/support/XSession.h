#pragma once

#include "DesktopServices.h"
#include "WindowMatch.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <memory>

struct X11Connection;
class DesktopPlatform;

// The desktop the test runs in: an X server, or a Wayland compositor (weston lets no program
// reach another's windows).
enum class Session
{
    X11,
    Sway,
    KWin,
    Weston
};
Session session();

// The windows the desktop lists, bottom to top (the active one last on Wayland).
std::vector<CandidateWindow> sessionWindows();
// The id of the first window titled title, waiting up to ms; 0 when none.
quint32 waitForWindow(const QString& title, int ms = 5000);
// True once no window has that title any more.
bool waitForNoWindow(const QString& title, int ms = 5000);

// The test's hand on the desktop, as a user's: a pointer that moves and clicks, and the places
// of windows as the desktop reports them.
class Hand
{
public:
    virtual ~Hand() = default;
    virtual bool ok() const = 0;
    // The inside of the window titled title, in screen coordinates; empty when none.
    virtual QRect windowRect(const QString& title) = 0;
    virtual void moveTo(QPoint p) = 0;
    // A pointer button going down or up: 1 is the left one, 2 the middle, 3 the right.
    virtual void press(int button) = 0;
    virtual void release(int button) = 0;
    void click(int button = 1);
    // The middle of a control given by its layout rectangle (1/1440 inch) in the window titled
    // title, whose inside is windowUnits wide: windows scale their layout to fit their font.
    QPoint controlCentre(const QString& title, int windowUnits, QRect units);
    void clickControl(const QString& title, int windowUnits, QRect units, int button = 1);
    // The hand for the session the test runs in.
    static std::unique_ptr<Hand> forSession();
};

// The test's own hand on the X server: the pointer and keys (through xdotool), the keyboard
// layout and its locks, the windows as the window manager keeps them.
class XUser : public Hand
{
public:
    XUser();
    ~XUser() override;
    bool ok() const override { return m_ok; }

    QRect windowRect(const QString& title) override;
    void moveTo(QPoint p) override;
    void press(int button) override;
    void release(int button) override;
    // Waits until the keyboard focus is in window (or one of its children); false after ms.
    bool waitForFocus(quint32 window, int ms = 5000);
    // Types a keystroke string into the window titled title, as a user at the keyboard would.
    bool typeInto(const QString& title, const QString& keys);
    // The window's inside (client area) in screen coordinates.
    QRect clientRect(quint32 window);

    // Taps keys as xdotool names them ("x", "Down", "ctrl+a"), or presses or releases one.
    void keys(const QString& keys);
    void key(const QString& key, bool down);
    // Sets the keyboard layout, as a user switching layouts would ("us", "de", "us,de", ...).
    bool setLayout(const QString& layout);
    // Locks a group of a multi-group layout, and the lock modifiers (Caps Lock is 2, Num Lock 16).
    void lockGroup(int group);
    void lockModifiers(int affect, int values);
    // The locked group and the locked modifiers.
    QPair<int, int> locks();
    // How many keys are down now.
    int keysDown();
    // How many keycodes have no symbol at all (spare keycodes).
    int spareKeycodes();
    // Asks the window manager to close the window, as its close box does.
    void closeWindow(quint32 window);
    // The windows directly below the root, bottom to top.
    QList<quint32> rootChildren();
    // Destroys any client's window, as a misbehaving program on the same server may.
    void destroyWindow(quint32 window);
    // True when the window manager lists state (e.g. "_NET_WM_STATE_ABOVE") for the window.
    bool hasState(quint32 window, const char* state);

private:
    bool xdotool(const QStringList& args);
    std::unique_ptr<X11Connection> m_x;
    bool m_ok = false;
};

// A real program that shows a window titled title and records, byte for byte, the text that
// reaches it: a terminal read raw (xterm on X11, foot on Wayland), a deliberately slow X client,
// a GTK 3 entry (X11) or a Qt 6 text edit (the last two record their whole text).
class Receiver
{
public:
    enum Kind
    {
        Terminal,
        Slow,
        Gtk,
        TextEdit
    };
    // geometry: an X geometry in characters and pixels (xterm); delay: how long the slow client
    // takes for each key event, in milliseconds.
    explicit Receiver(QString title, QString geometry = QStringLiteral("80x10+20+600"),
                      int delay = 0, Kind kind = Terminal);
    ~Receiver();

    // Starts the program in the test's session and waits until its window exists, is active and
    // is ready to read.
    bool start();
    // Ends the program and waits until its window is gone.
    void close();
    quint32 window() const { return m_window; }
    QString title() const { return m_title; }
    QByteArray received() const;
    // Waits until at least expected.size() bytes arrived (or ms passed); returns what arrived.
    QByteArray waitFor(const QByteArray& expected, int ms = 15000) const;
    // Waits ms more and returns what arrived: for checking that nothing (more) came.
    QByteArray settle(int ms = 300) const;

private:
    QString m_title;
    QString m_geometry;
    int m_delay;
    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint32 m_window = 0;
};

// The real Keyflare program, run as a portable copy in a folder of its own, with its own
// settings store, so that nothing a test does reaches the user's files.
class KeyflareProgram
{
public:
    KeyflareProgram();
    // An installed copy (from the package, unpacked anywhere); its files are kept in the per-user
    // data folder, where putFile() and file() then work.
    explicit KeyflareProgram(const QString& installedExecutable);
    ~KeyflareProgram();

    // Stores settings before the start, as an earlier run would have.
    void storeSettings(const QMap<QString, QString>& values);
    QString storedSetting(const QString& key) const;
    void putFile(const QString& name, const QByteArray& bytes);
    // A macro set whose first buttons hold texts, the others their numbers.
    void putSet(const QString& name, const QStringList& texts);
    // A title list that holds target, and one macro set whose first buttons hold texts.
    void putTargetAndSet(const QString& target, const QStringList& texts);
    QByteArray file(const QString& name) const;

    // Starts the program in the test's session and waits until its panel is ready for a click.
    bool start();
    quint32 window() const { return m_window; }
    // Brings the panel to the front, as a user would, and clicks the middle of a control given
    // by its layout rectangle.
    void clickControl(Hand& hand, QRect units, int button = 1);
    // Clicks macro button number (1 to 48); its button set must be shown.
    void clickMacroButton(Hand& hand, int number, int button = 1);
    // Presses Enter in the program's window titled title (a message box, the grabber).
    bool pressEnterIn(const QString& title);
    // Closes the panel as its close box would; false where the test cannot.
    bool close();
    bool waitForExit(int ms = 10000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const;

private:
    // Keyflare's own services, which find and activate the program's windows for the test.
    Platform desktop();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_executable;
    QString m_folder;
    quint32 m_window = 0;
    std::unique_ptr<DesktopPlatform> m_desktop;
};

// A window title no other test run shares: base and this process's id.
QString uniqueTitle(const QString& base);

// The path of a helper built beside the tests.
QString testHelperPath(const QString& name);
