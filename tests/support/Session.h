#pragma once

#include "WindowMatch.h"

#include <QPoint>
#include <QRect>
#include <QStringList>
#include <memory>
#include <vector>

// The desktop the test runs in: an X server, or a Wayland compositor (weston lets no program
// reach another's windows).
enum class Session
{
    X11,
    Sway,
    KWin,
    Gnome,
    Weston
};
Session session();

// The id of the first window titled title, waiting up to ms; 0 when none.
WindowId waitForWindow(const QString& title, int ms = 5000);
// Waits, up to ms, until the desktop has made the new window active: it does so a moment after
// the window appears, and a test that activates another window first would race it.
void waitUntilActive(WindowId window, int ms = 2000);
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
    // Moves to p, in the window titled title, and returns once the desktop hands the pointer's
    // events to that window.
    virtual void moveOver(const QString& /*title*/, QPoint p) { moveTo(p); }
    // A pointer button going down or up: 1 is the left one, 2 the middle, 3 the right.
    virtual void button(int button, bool down) = 0;
    // The left Ctrl key going down or up, as on the user's keyboard (not on wlroots, where it
    // could not reach another keyboard's keys).
    virtual void ctrl(bool down) = 0;
    void click(int button = 1);
    // The middle of a control given by its layout rectangle (1/1440 inch) in the window titled
    // title, whose inside is windowUnits wide: windows scale their layout to fit their font.
    QPoint controlCentre(const QString& title, int windowUnits, QRect units);
    void clickControl(const QString& title, int windowUnits, QRect units, int button = 1);
    // The hand for the session the test runs in.
    static std::unique_ptr<Hand> forSession();
};

// Sets the keyboard layouts as a user would ("us", "de", "us,de", ...), on X11, sway, KWin and
// GNOME; the first is in force.
void setKeyboardLayout(const QString& layout);
// The keyboard map that GNOME Shell gives its programs, read by the X server's own tool from
// Xwayland, which is handed every change.
QByteArray xwaylandKeymap();
// The process id of the Xwayland that serves the test's X display; 0 when none does.
qint64 xwaylandPid();
// Puts the layout of that index in force on KWin, as the user's layout switcher does.
void selectKWinLayout(int index);
// The index of the layout KWin has in force.
int activeKWinLayout();

// A window title no other test run shares: base and this process's id.
QString uniqueTitle(const QString& base);

// What program printed on its standard output by the time it ended (or ms passed).
QByteArray programOutput(const QString& program, const QStringList& args, int ms = 10000);
