#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <xkbcommon/xkbcommon.h>

class X11Connection;
struct X11CoreMap;

// The X server's keyboard as typing sees it: its map, its modifier and group state, and keys
// pressed through XTEST.
class X11Keyboard
{
public:
    // The state of the core keyboard, which is what receivers see.
    struct State
    {
        uint8_t baseMods = 0;
        uint8_t lockedMods = 0;
        uint32_t group = 0;
        uint32_t lockedGroup = 0;
    };

    explicit X11Keyboard(X11Connection& connection);
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;
    ~X11Keyboard();

    // Finds the keyboards and asks to be told of map changes; false, with the reason, when the
    // server lacks XTEST or XKB.
    bool open(QString* error);
    // The map of the keyboard XTEST drives, read again whenever the server said it changed.
    xkb_keymap* keymap();
    // The map changed by our own request: it is read again on the next keymap().
    void markChanged() { m_stale = true; }
    std::optional<State> state();
    bool readCoreMap(X11CoreMap* map);
    // The core map, at least as wide as a borrowed keycode's row.
    bool readWideMap(X11CoreMap* map);
    // The index of the server's four-level key type (Shift and the third-level shift), or -1.
    int fourLevelType();
    void lockModifiers(uint8_t affect, uint8_t values);
    // Locks keyboard group group (0 to 3); keys queued after this are read in that group.
    void lockGroup(uint32_t group);
    void fakeKey(uint8_t type, uint8_t keycode);

private:
    struct KeymapDeleter
    {
        void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
    };
    // The slave keyboard that XTEST drives; its map may differ from the physical keyboard's.
    int32_t findXtestKeyboard();

    X11Connection& m_x;
    xkb_context* m_xkb = nullptr;
    int32_t m_keyboard = -1;      // the core keyboard: its state is what receivers see
    int32_t m_xtestKeyboard = -1; // the keyboard XTEST drives: its map turns our keys into text
    uint8_t m_xkbEvent = 0;
    std::unique_ptr<xkb_keymap, KeymapDeleter> m_keymap;
    bool m_stale = true;
};
