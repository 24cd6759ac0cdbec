#pragma once

#include "WindowMatch.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

struct X11Connection;

// The test's own connection to the X server: finds windows and drives the pointer and keys
// through XTEST, as a user would.
class XUser
{
public:
    XUser();
    ~XUser();
    bool ok() const { return m_ok; }

    // The first managed window other than except whose title is exactly title, waiting up to
    // ms; 0 when none.
    quint32 waitForWindow(const QString& title, int ms = 5000, quint32 except = 0);
    // Waits until the keyboard focus is in window (or one of its children); false after ms.
    bool waitForFocus(quint32 window, int ms = 5000);
    // True once no window has that title any more.
    bool waitForNoWindow(const QString& title, int ms = 5000);
    // Types a keystroke string into the window titled title, as a user at the keyboard would.
    bool typeInto(const QString& title, const QString& keys);
    // The window's inside (client area) in screen coordinates.
    QRect clientRect(quint32 window);

    void moveTo(QPoint p);
    void click(int button = 1);
    void press(int button);
    void release(int button);
    // Presses or releases the key that types keysym on the current map (e.g. XK_Shift_L).
    void key(quint32 keysym, bool down);
    void tap(quint32 keysym);
    // Taps keysym while modifier (e.g. Alt_L, Control_L) is held.
    void chord(quint32 modifier, quint32 keysym);
    // The middle of a control given by its layout rectangle (1/1440 inch) in a window whose
    // client area is windowUnits wide, on the screen: windows scale their layout to fit their font.
    QPoint controlCentre(quint32 window, int windowUnits, QRect units);
    void clickControl(quint32 window, int windowUnits, QRect units, int button = 1);
    void sync();
    // Sets the keyboard layout, as a user switching layouts would ("us", "de", "us,de", ...).
    bool setLayout(const QString& layout);
    // Locks a group of a multi-group layout, and the lock modifiers (Caps Lock is 2, Num Lock 16).
    void lockGroup(int group);
    void lockModifiers(int affect, int values);
    int lockedGroup();
    int lockedModifiers();
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
    // Sends one XTEST event: a key or button (detail) going down or up, or the pointer moving to p.
    void fake(uint8_t type, uint8_t detail, QPoint p = {});
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
    // geometry: an X geometry in characters and pixels (xterm); delay: how long the receiver
    // takes for each byte (xterm, microseconds) or each key event (slow client, milliseconds).
    explicit Receiver(QString title, QString geometry = QStringLiteral("80x10+20+600"),
                      int delay = 0, Kind kind = Terminal);
    ~Receiver();

    // Starts the program and waits until its window exists and it is ready to read.
    bool start(XUser& user);
    // The same in a Wayland session (WaylandSession.cpp).
    bool startOnWayland();
    // The same in whichever session the test runs in.
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
    bool waitUntilReady();

    QString m_title;
    QString m_geometry;
    int m_delay;
    Kind m_kind;
    bool m_wayland = false;
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

    bool start(XUser& user);
    // The same in a Wayland session (WaylandSession.cpp); firstWindow: the title of the window
    // it shows first.
    bool startOnWayland(const QString& firstWindow = QStringLiteral("Keyflare v2.3"));
    quint32 window() const { return m_window; }
    // Clicks the middle of a control given by its layout rectangle.
    void clickControl(XUser& user, QRect units, int button = 1);
    // Clicks macro button number (1 to 48); its button set must be shown.
    void clickMacroButton(XUser& user, int number, int button = 1);
    bool waitForExit(int ms = 10000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_executable;
    QString m_folder;
    quint32 m_window = 0;
};

// The id of the first window that list() gives titled title, other than except, waiting up to ms;
// 0 when none.
quint32 waitForListed(const std::function<std::vector<CandidateWindow>()>& list,
                      const QString& title, int ms, quint32 except = 0);
// The windows the Wayland compositor lists (wlroots or KWin).
std::vector<CandidateWindow> waylandWindows();
// The id of the Wayland window titled title, waiting up to ms; 0 when none.
quint32 waitForWaylandWindow(const QString& title, int ms = 5000);

// A window title no other test run shares: base and this process's id.
QString uniqueTitle(const QString& base);

// The path of a helper built beside the tests.
QString testHelperPath(const QString& name);
