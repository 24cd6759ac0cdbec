// A deliberately slow X client that types what it receives into a file: it takes a fixed time
// for every key event and reads the keyboard map only when it gets to the notification that the
// map changed, as toolkits built on xkbcommon do. A sender that restores a borrowed keycode too
// early is caught by it.
// Usage: slowreceiver TITLE OUTPUT MILLISECONDS_PER_EVENT
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

int main(int argc, char* argv[])
{
    if (argc < 4)
        return 2;
    const std::string title = argv[1];
    const int delayMs = std::atoi(argv[3]);
    FILE* out = std::fopen(argv[2], "ab");
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!out || xcb_connection_has_error(c))
        return 1;
    uint8_t xkbEvent = 0;
    if (!xkb_x11_setup_xkb_extension(c, 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                     nullptr, &xkbEvent, nullptr))
        return 1;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, 0xff, 0xff, nullptr);
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    const auto reload = [&] {
        xkb_state_unref(state);
        xkb_keymap_unref(keymap);
        keymap = xkb_x11_keymap_new_from_device(ctx, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
        state = xkb_state_new(keymap);
    };
    reload();

    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 600, 100, 300, 80, 1,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    const char utf8Name[] = "UTF8_STRING";
    const char netName[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* utf8 =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof utf8Name - 1, utf8Name), nullptr);
    xcb_intern_atom_reply_t* net =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof netName - 1, netName), nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, net->atom, utf8->atom, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_map_window(c, w);
    xcb_flush(c);

    while (xcb_generic_event_t* ev = xcb_wait_for_event(c)) {
        const uint8_t type = ev->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            usleep(static_cast<useconds_t>(delayMs) * 1000);
        }
        if (type == XCB_KEY_PRESS) {
            const auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
            xkb_state_update_mask(state, key->state & 0xff, 0, 0, 0, 0, (key->state >> 13) & 3);
            const uint32_t cp = xkb_state_key_get_utf32(state, key->detail);
            if (cp != 0) {
                std::string bytes;
                if (cp < 0x80) {
                    bytes += static_cast<char>(cp);
                } else if (cp < 0x800) {
                    bytes += static_cast<char>(0xc0 | (cp >> 6));
                    bytes += static_cast<char>(0x80 | (cp & 0x3f));
                } else if (cp < 0x10000) {
                    bytes += static_cast<char>(0xe0 | (cp >> 12));
                    bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                    bytes += static_cast<char>(0x80 | (cp & 0x3f));
                } else {
                    bytes += static_cast<char>(0xf0 | (cp >> 18));
                    bytes += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
                    bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                    bytes += static_cast<char>(0x80 | (cp & 0x3f));
                }
                std::fwrite(bytes.data(), 1, bytes.size(), out);
                std::fflush(out);
            }
        } else if (type == xkbEvent || type == XCB_MAPPING_NOTIFY) {
            reload();
        }
        std::free(ev);
    }
    return 0;
}
