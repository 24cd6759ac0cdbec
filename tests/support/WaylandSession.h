#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

struct wl_display;
struct zwlr_virtual_pointer_v1;

// The test's own hand on a wlroots compositor: a virtual pointer that moves and clicks as a user
// would, kept for the whole test (a headless seat has a pointer only while one exists), and the
// places of windows as sway reports them.
class WaylandUser
{
public:
    WaylandUser();
    ~WaylandUser();
    bool ok() const { return m_pointer != nullptr; }

    // The inside of the window titled title, in the compositor's layout; empty when none.
    QRect windowRect(const QString& title);
    void moveTo(QPoint p);
    void click();
    // Clicks the middle of a control given by its layout rectangle (1/1440 inch) in the window
    // titled title, whose inside is windowUnits wide.
    void clickControl(const QString& title, int windowUnits, QRect units);

private:
    wl_display* m_display = nullptr;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    unsigned m_time = 0;
};
