// The windows Keyflare may type into, as the shell knows them, and the state of the keyboard.

// The window calls, on the shell's services.
function windowsPart({GLib, Meta, Clutter, Main, global}) {
    // How long a window may take to get the focus.
    const FOCUS_WAIT_MS = 1000;
    const HELD_MASK = Clutter.ModifierType.SHIFT_MASK | Clutter.ModifierType.CONTROL_MASK |
        Clutter.ModifierType.MOD1_MASK | Clutter.ModifierType.MOD4_MASK |
        Clutter.ModifierType.SUPER_MASK | Clutter.ModifierType.HYPER_MASK |
        Clutter.ModifierType.META_MASK;
    const TYPED_WINDOWS = [Meta.WindowType.NORMAL, Meta.WindowType.DIALOG,
        Meta.WindowType.MODAL_DIALOG, Meta.WindowType.UTILITY];

    // The windows a title may name, bottom to top.
    function list() {
        const windows = global.get_window_actors().map(a => a.meta_window)
            .filter(w => w && !w.is_override_redirect() &&
                TYPED_WINDOWS.includes(w.get_window_type()));
        return global.display.sort_windows_by_stacking(windows);
    }

    // The window of id; null when there is none.
    function find(id) {
        return list().find(w => w.get_id() === id) ?? null;
    }

    // Activates w; resolves to whether it has the focus within FOCUS_WAIT_MS.
    function activate(w) {
        return new Promise(resolve => {
            if (global.display.focus_window === w) {
                resolve(true);
                return;
            }
            let timeout = 0;
            const done = result => {
                global.display.disconnect(handler);
                GLib.source_remove(timeout);
                resolve(result);
            };
            const handler = global.display.connect('notify::focus-window', () => {
                if (global.display.focus_window === w)
                    done(true);
            });
            timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, FOCUS_WAIT_MS, () => {
                timeout = 0;
                done(global.display.focus_window === w);
                return GLib.SOURCE_REMOVE;
            });
            Main.activateWindow(w, global.display.get_current_time_roundtrip());
        });
    }

    // The id of the window with the focus; 0 when none has it.
    function focusedId() {
        const w = global.display.focus_window;
        return w ? w.get_id() : 0;
    }

    // The topmost window shown under the pointer; undefined when there is none.
    function underPointer() {
        const [x, y] = global.get_pointer();
        return list().reverse().find(win => {
            const r = win.get_frame_rect();
            return !win.minimized && win.showing_on_its_workspace() &&
                x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
        });
    }

    // The modifiers held on any keyboard.
    function heldModifiers() {
        const [, , mods] = global.get_pointer();
        return mods & HELD_MASK;
    }

    // Runs onChange whenever a window opens or closes, is renamed, or the stacking changes;
    // returns the function that stops it.
    function watch(onChange) {
        const followed = new Map(); // window -> the ids of its handlers
        const unfollow = w => {
            for (const id of followed.get(w) ?? [])
                w.disconnect(id);
            followed.delete(w);
        };
        const follow = w => {
            if (!w || followed.has(w))
                return;
            followed.set(w, [
                w.connect('notify::title', onChange),
                w.connect('notify::wm-class', onChange),
                w.connect('unmanaged', () => {
                    unfollow(w);
                    onChange();
                }),
            ]);
        };
        global.get_window_actors().forEach(a => follow(a.meta_window));
        const display = [
            global.display.connect('window-created', (d, w) => {
                follow(w);
                onChange();
            }),
            global.display.connect('restacked', onChange),
        ];
        return () => {
            [...followed.keys()].forEach(unfollow);
            display.forEach(id => global.display.disconnect(id));
        };
    }

    return {list, find, activate, focusedId, underPointer, heldModifiers, watch};
}
