#pragma once

#include "Session.h"

struct wl_display;
struct zwlr_virtual_pointer_v1;
struct org_kde_kwin_fake_input;
struct zwp_virtual_keyboard_v1;

// The test's hand on a Wayland desktop: a virtual pointer and keyboard on wlroots compositors,
// kept for the whole test, since a headless seat has them only while they exist; fake input on
// KWin.
class WaylandUser : public Hand
{
public:
    WaylandUser();
    ~WaylandUser() override;
    bool ok() const override { return m_pointer || m_fakeInput; }

    QRect windowRect(const QString& title) override;
    void moveTo(QPoint p) override;
    void button(int button, bool down) override;
    void ctrl(bool down) override;
    // Presses and releases the key of evdev code (KWin only), as Caps Lock on a keyboard.
    void tapKey(int code);

private:
    wl_display* m_display = nullptr;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    org_kde_kwin_fake_input* m_fakeInput = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    unsigned m_time = 0;
};
