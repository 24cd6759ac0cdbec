#include "KWinConnection.h"

#include "fake-input-client-protocol.h"
#include "keystate-client-protocol.h"
#include "plasma-window-management-client-protocol.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {
// The newest versions whose events and requests this code handles.
constexpr uint32_t kManagementVersion = 16;
constexpr uint32_t kFakeInputVersion = 6;

PlasmaWindow* windowOf(void* data)
{
    return static_cast<PlasmaWindow*>(data);
}

void onTitle(void* data, org_kde_plasma_window*, const char* title)
{
    windowOf(data)->title = QString::fromUtf8(title);
    (*windowOf(data)->changed)();
}
void onAppId(void* data, org_kde_plasma_window*, const char* appId)
{
    windowOf(data)->appId = QString::fromUtf8(appId);
    (*windowOf(data)->changed)();
}
void onState(void* data, org_kde_plasma_window*, uint32_t flags)
{
    windowOf(data)->active = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
    (*windowOf(data)->changed)();
}
void onUnmapped(void* data, org_kde_plasma_window*)
{
    windowOf(data)->gone = true;
    windowOf(data)->active = false;
    (*windowOf(data)->changed)();
}
void onInitialState(void* data, org_kde_plasma_window*)
{
    windowOf(data)->ready = true;
    (*windowOf(data)->changed)();
}
void onGeometry(void* data, org_kde_plasma_window*, int32_t x, int32_t y, uint32_t w, uint32_t h)
{
    windowOf(data)->geometry = QRect(x, y, static_cast<int>(w), static_cast<int>(h));
}
void onPid(void* data, org_kde_plasma_window*, uint32_t pid)
{
    windowOf(data)->pid = pid;
}
void onInt(void*, org_kde_plasma_window*, int32_t)
{
}
void onString(void*, org_kde_plasma_window*, const char*)
{
}
void onStrings(void*, org_kde_plasma_window*, const char*, const char*)
{
}
void onNothing(void*, org_kde_plasma_window*)
{
}
void onParent(void*, org_kde_plasma_window*, org_kde_plasma_window*)
{
}

// Each listener names its events, so that a newer protocol file's further events stay empty:
// KWin sends them only to a program that binds that newer version, which this one never does.
org_kde_plasma_window_listener windowListener()
{
    org_kde_plasma_window_listener l = {};
    l.title_changed = onTitle;
    l.app_id_changed = onAppId;
    l.state_changed = onState;
    l.virtual_desktop_changed = onInt;
    l.themed_icon_name_changed = onString;
    l.unmapped = onUnmapped;
    l.initial_state = onInitialState;
    l.parent_window = onParent;
    l.geometry = onGeometry;
    l.icon_changed = onNothing;
    l.pid_changed = onPid;
    l.virtual_desktop_entered = onString;
    l.virtual_desktop_left = onString;
    l.application_menu = onStrings;
    l.activity_entered = onString;
    l.activity_left = onString;
    l.resource_name_changed = onString;
    return l;
}
const org_kde_plasma_window_listener kWindowListener = windowListener();

void onShowDesktop(void*, org_kde_plasma_window_management*, uint32_t)
{
}
void onWindow(void*, org_kde_plasma_window_management*, uint32_t)
{
}
void onStackingIds(void*, org_kde_plasma_window_management*, wl_array*)
{
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*)
{
}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*)
{
}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t)
{
}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t)
{
}

void onGlobalRemove(void*, wl_registry*, uint32_t)
{
}

} // namespace

void KWinConnection::onStacking(void* data, org_kde_plasma_window_management*, const char* uuids)
{
    auto* c = static_cast<KWinConnection*>(data);
    c->m_stacking = QString::fromUtf8(uuids).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    c->m_changed();
}

void KWinConnection::onWindowWithUuid(void* data, org_kde_plasma_window_management* management,
                                      uint32_t, const char* uuid)
{
    auto* c = static_cast<KWinConnection*>(data);
    auto w = std::make_unique<PlasmaWindow>();
    w->id = c->m_nextId++;
    w->uuid = QString::fromUtf8(uuid);
    w->changed = &c->m_changed;
    w->handle = org_kde_plasma_window_management_get_window_by_uuid(management, uuid);
    org_kde_plasma_window_add_listener(w->handle, &kWindowListener, w.get());
    c->m_windows.push_back(std::move(w));
}

void KWinConnection::onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    // Kept as text and compiled only when asked for: KWin hands a new map to every keyboard for
    // each character it maps itself, and compiling each would cost more than the typing.
    auto* c = static_cast<KWinConnection*>(data);
    void* text = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
                     ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                     : MAP_FAILED;
    if (text != MAP_FAILED) {
        c->m_keymapText = QByteArray(static_cast<const char*>(text),
                                     qsizetype(strnlen(static_cast<const char*>(text), size)));
        munmap(text, size);
    }
    close(fd);
}

xkb_keymap* KWinConnection::keymap()
{
    if (m_keymapText.isEmpty() || m_keymapText == m_compiledText)
        return m_keymap;
    xkb_keymap* map =
        xkb_keymap_new_from_buffer(m_xkb, m_keymapText.constData(), size_t(m_keymapText.size()),
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    m_compiledText = m_keymapText;
    if (map) {
        xkb_keymap_unref(m_keymap);
        m_keymap = map;
    }
    return m_keymap;
}

void KWinConnection::onLockState(void* data, org_kde_kwin_keystate*, uint32_t key, uint32_t state)
{
    // Caps Lock is the real modifier Lock, Num Lock Mod2 on every usual map.
    const uint8_t bit = key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK  ? 2
                        : key == ORG_KDE_KWIN_KEYSTATE_KEY_NUMLOCK ? 16
                                                                   : 0;
    auto* c = static_cast<KWinConnection*>(data);
    if (state == ORG_KDE_KWIN_KEYSTATE_STATE_LOCKED)
        c->m_lockedMods |= bit;
    else
        c->m_lockedMods &= static_cast<uint8_t>(~bit);
}

void KWinConnection::onGlobal(void* data, wl_registry* registry, uint32_t name,
                              const char* interface, uint32_t version)
{
    static const org_kde_plasma_window_management_listener managementListener = [] {
        org_kde_plasma_window_management_listener l = {};
        l.show_desktop_changed = onShowDesktop;
        l.window = onWindow;
        l.stacking_order_changed = onStackingIds;
        l.stacking_order_uuid_changed = onStacking;
        l.window_with_uuid = onWindowWithUuid;
        return l;
    }();
    static const wl_keyboard_listener keyboardListener = [] {
        wl_keyboard_listener l = {};
        l.keymap = onKeymap;
        l.enter = onEnter;
        l.leave = onLeave;
        l.key = onKey;
        l.modifiers = onModifiers;
        l.repeat_info = onRepeat;
        return l;
    }();
    static const org_kde_kwin_keystate_listener keystateListener = [] {
        org_kde_kwin_keystate_listener l = {};
        l.stateChanged = onLockState;
        return l;
    }();
    auto* c = static_cast<KWinConnection*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->m_seat) {
        c->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        c->m_keyboard = wl_seat_get_keyboard(c->m_seat);
        wl_keyboard_add_listener(c->m_keyboard, &keyboardListener, c);
    } else if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0 &&
               version >= 13) {
        c->m_management = static_cast<org_kde_plasma_window_management*>(
            wl_registry_bind(registry, name, &org_kde_plasma_window_management_interface,
                             std::min(version, kManagementVersion)));
        org_kde_plasma_window_management_add_listener(c->m_management, &managementListener, c);
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
               version >= 4) {
        c->m_fakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface,
                             std::min(version, kFakeInputVersion)));
    } else if (std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0) {
        c->m_keystate = static_cast<org_kde_kwin_keystate*>(
            wl_registry_bind(registry, name, &org_kde_kwin_keystate_interface, 1));
        org_kde_kwin_keystate_add_listener(c->m_keystate, &keystateListener, c);
        org_kde_kwin_keystate_fetchStates(c->m_keystate);
    }
}

KWinConnection::~KWinConnection()
{
    for (const auto& w : m_windows)
        org_kde_plasma_window_destroy(w->handle);
    if (m_management)
        org_kde_plasma_window_management_destroy(m_management);
    if (m_fakeInput && fakeInputVersion() >= ORG_KDE_KWIN_FAKE_INPUT_DESTROY_SINCE_VERSION)
        org_kde_kwin_fake_input_destroy(m_fakeInput);
    else if (m_fakeInput) // before version 5 it has no destroy request
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(m_fakeInput));
    if (m_keystate)
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(m_keystate)); // its destroy request is newer
    if (m_keyboard)
        wl_keyboard_destroy(m_keyboard);
    if (m_seat)
        wl_seat_destroy(m_seat);
    xkb_keymap_unref(m_keymap);
    xkb_context_unref(m_xkb);
}

void KWinConnection::watch(std::function<void()> changed)
{
    m_changed = std::move(changed);
    m_socket = SocketWatch::ofWayland(m_display, [this] { m_changed(); });
}

bool KWinConnection::open(QString* error)
{
    m_xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    static const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};
    // The globals, then the windows and the keyboard map, then each window's state.
    return m_display.open(&registryListener, this, 3, error);
}

uint32_t KWinConnection::fakeInputVersion() const
{
    return m_fakeInput ? org_kde_kwin_fake_input_get_version(m_fakeInput) : 0;
}

PlasmaWindow* KWinConnection::find(WindowId id)
{
    for (const auto& w : m_windows) {
        if (w->id == id && !w->gone)
            return w.get();
    }
    return nullptr;
}
