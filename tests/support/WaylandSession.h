#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

struct wl_display;
struct zwlr_virtual_pointer_v1;
struct org_kde_kwin_fake_input;

// The test's own hand on a Wayland desktop: a pointer that moves and clicks as a user would (a
// virtual pointer on wlroots compositors, kept for the whole test, since a headless seat has a
// pointer only while one exists; fake input on KWin), and the places of windows as the
// compositor reports them.
class WaylandUser
{
public:
    WaylandUser();
    ~WaylandUser();
    bool ok() const { return m_pointer || m_fakeInput; }

    // The inside of the window titled title, in the compositor's layout; empty when none.
    QRect windowRect(const QString& title);
    void moveTo(QPoint p);
    void click();
    // Presses and releases the key of evdev code (KWin only), as Caps Lock on a keyboard.
    void tapKey(int code);
    // Clicks the middle of a control given by its layout rectangle (1/1440 inch) in the window
    // titled title, whose inside is windowUnits wide.
    void clickControl(const QString& title, int windowUnits, QRect units);

private:
    wl_display* m_display = nullptr;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    org_kde_kwin_fake_input* m_fakeInput = nullptr;
    unsigned m_time = 0;
};
