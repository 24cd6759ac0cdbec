#include "WaylandUser.h"

#include "fake-input-client-protocol.h"
#include "kwin/KWinDesktop.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <linux/input-event-codes.h>
#include <type_traits>
#include <wayland-client.h>

namespace {
constexpr int kWidth = 1280; // the headless output that scripts/with-sway.sh sets up
constexpr int kHeight = 800;

struct Globals
{
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    wl_seat* seat = nullptr;
    org_kde_kwin_fake_input* fakeInput = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* g = static_cast<Globals*>(data);
    // Binds the first global of that interface.
    const auto bind = [&](auto*& to, const wl_interface& type, uint32_t version) {
        if (!to && std::strcmp(interface, type.name) == 0)
            to = static_cast<std::remove_reference_t<decltype(to)>>(
                wl_registry_bind(registry, name, &type, version));
    };
    bind(g->pointers, zwlr_virtual_pointer_manager_v1_interface, 1);
    bind(g->keyboards, zwp_virtual_keyboard_manager_v1_interface, 1);
    bind(g->seat, wl_seat_interface, 1);
    bind(g->fakeInput, org_kde_kwin_fake_input_interface, 4);
}
const wl_registry_listener kListener = {onGlobal, [](void*, wl_registry*, uint32_t) {}};

QRect findRect(const QJsonObject& node, const QString& title)
{
    if (node["name"].toString() == title && node.contains("app_id")) {
        const QJsonObject r = node["rect"].toObject(), w = node["window_rect"].toObject();
        return {r["x"].toInt() + w["x"].toInt(), r["y"].toInt() + w["y"].toInt(),
                w["width"].toInt(), w["height"].toInt()};
    }
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node[QLatin1String(key)].toArray()) {
            const QRect r = findRect(child.toObject(), title);
            if (!r.isEmpty())
                return r;
        }
    }
    return {};
}
} // namespace

WaylandUser::WaylandUser()
{
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return;
    Globals globals;
    wl_registry* registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(registry, &kListener, &globals);
    wl_display_roundtrip(m_display);
    if (globals.pointers) {
        m_pointer =
            zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.pointers, nullptr);
        zwlr_virtual_pointer_manager_v1_destroy(globals.pointers);
        // A real seat has a keyboard: programs then hold their keyboard objects from the start.
        if (globals.keyboards && globals.seat)
            m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.keyboards,
                                                                                 globals.seat);
        if (globals.fakeInput) // version 4 has no destroy request
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(globals.fakeInput));
    } else if (globals.fakeInput) {
        m_fakeInput = globals.fakeInput;
        org_kde_kwin_fake_input_authenticate(m_fakeInput, "Keyflare tests", "the test's pointer");
    }
    wl_display_roundtrip(m_display);
    wl_registry_destroy(registry);
    if (globals.keyboards)
        zwp_virtual_keyboard_manager_v1_destroy(globals.keyboards);
    if (globals.seat)
        wl_seat_destroy(globals.seat);
}

WaylandUser::~WaylandUser()
{
    if (m_pointer)
        zwlr_virtual_pointer_v1_destroy(m_pointer);
    if (m_fakeInput)
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(m_fakeInput));
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_display)
        wl_display_disconnect(m_display);
}

QRect WaylandUser::windowRect(const QString& title)
{
    if (m_fakeInput) { // KWin, which draws no frames around windows in the tests' sessions
        KWinDesktop kwin{QString()};
        for (const CandidateWindow& w : kwin.listWindows()) {
            if (w.title == title)
                return kwin.frame(w.id);
        }
        return {};
    }
    const QByteArray tree = programOutput("swaymsg", {"-r", "-t", "get_tree"});
    return findRect(QJsonDocument::fromJson(tree).object(), title);
}

void WaylandUser::moveTo(QPoint p)
{
    if (m_fakeInput) {
        org_kde_kwin_fake_input_pointer_motion_absolute(m_fakeInput, wl_fixed_from_int(p.x()),
                                                        wl_fixed_from_int(p.y()));
    } else {
        zwlr_virtual_pointer_v1_motion_absolute(m_pointer, m_time += 10,
                                                static_cast<uint32_t>(p.x()),
                                                static_cast<uint32_t>(p.y()), kWidth, kHeight);
        zwlr_virtual_pointer_v1_frame(m_pointer);
    }
    // Handled by the compositor once the round trip returns: the pointer is over its new place
    // before anything sent later.
    wl_display_roundtrip(m_display);
}

void WaylandUser::button(int button, bool down)
{
    const uint32_t code = button == 2 ? BTN_MIDDLE : button == 3 ? BTN_RIGHT : BTN_LEFT;
    const auto state = down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
    if (m_fakeInput) {
        org_kde_kwin_fake_input_button(m_fakeInput, code, state);
    } else {
        zwlr_virtual_pointer_v1_button(m_pointer, m_time += 10, code, state);
        zwlr_virtual_pointer_v1_frame(m_pointer);
    }
    wl_display_roundtrip(m_display);
    if (!down)
        QCoreApplication::processEvents();
}

void WaylandUser::ctrl(bool down)
{
    // KWin only: on wlroots a keyboard's modifiers stay its own, and a virtual keyboard's keys
    // never take on another keyboard's held Ctrl.
    if (m_fakeInput)
        org_kde_kwin_fake_input_keyboard_key(m_fakeInput, KEY_LEFTCTRL,
                                             down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                  : WL_KEYBOARD_KEY_STATE_RELEASED);
    wl_display_roundtrip(m_display);
}

void WaylandUser::tapKey(int code)
{
    for (const auto state : {WL_KEYBOARD_KEY_STATE_PRESSED, WL_KEYBOARD_KEY_STATE_RELEASED})
        org_kde_kwin_fake_input_keyboard_key(m_fakeInput, static_cast<uint32_t>(code), state);
    wl_display_roundtrip(m_display);
}
