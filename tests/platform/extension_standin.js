// A stand-in GNOME Shell for the extension's parts: a window or two, a keyboard manager holding
// the user's keymap, and a mutter backend in the shape of one release. The backend logs each
// call it gets (calls) and what came into force (effects: "keymap LAYOUTS/VARIANTS SECTIONS",
// SECTIONS being the marks of the text's symbols file, and "layout N").
import GLib from 'gi://GLib';

const SENTINEL_KEYSYM = 0x1008ff49;
const ACTION = 7;

class Signals {
    constructor() {
        this._handlers = new Map();
        this._next = 1;
    }

    connect(name, handler) {
        this._handlers.set(this._next, [name, handler]);
        return this._next++;
    }

    disconnect(id) {
        if (!this._handlers.delete(id))
            throw new Error(`no handler ${id} to disconnect`);
    }

    emit(name, ...args) {
        for (const [signal, handler] of [...this._handlers.values()]) {
            if (signal === name)
                handler(this, ...args);
        }
    }

    get connected() {
        return this._handlers.size;
    }
}

function later(f) {
    GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
        f();
        return GLib.SOURCE_REMOVE;
    });
}

// Mutter's keymap descriptions (from 50).
class Description {
    constructor(model, layouts, variants, options, displayNames) {
        this.rules = {layouts, variants};
        this.label = [model, layouts, variants, options, displayNames.join(',')].join('|');
    }

    direct_equal(other) {
        return this.label === other.label;
    }
}

// The releases by what their backends offer: 43 to 45 set layouts, variants and options, 46
// adds the model, 49 made both calls asynchronous, 50 and 51 take descriptions (51 reaches the
// seat through the stage's context alone).
export const SHAPES = ['43', '46', '49', '51'];

class Backend extends Signals {
    constructor(world) {
        super();
        this._world = world;
    }

    _keymap(layouts, variants) {
        this._world.inForce(`keymap ${layouts}/${variants}`, layouts);
    }

    _layout(n) {
        this._world.inForce(`layout ${n}`);
    }

    // Reports a change as mutter does: later, on the main loop.
    _announce(changed, callback) {
        later(() => {
            if (changed)
                this.emit('keymap-changed');
            callback?.(this, null);
        });
    }
}

const backends = {
    '43': class extends Backend {
        set_keymap(layouts, variants, options, ...more) {
            if (more.length)
                throw new Error('mutter 43 takes no model');
            this._world.call(`set_keymap(${[layouts, variants, options].join('|')})`);
            this._keymap(layouts, variants);
            this._announce(true);
        }

        lock_layout_group(n) {
            this._world.call(`lock_layout_group(${n})`);
            this._layout(n);
        }
    },
    '46': class extends Backend {
        set_keymap(layouts, variants, options, model) {
            this._world.call(`set_keymap(${[layouts, variants, options, model].join('|')})`);
            this._keymap(layouts, variants);
            this._announce(true);
        }

        lock_layout_group(n) {
            this._world.call(`lock_layout_group(${n})`);
            this._layout(n);
        }
    },
    '49': class extends Backend {
        set_keymap_async(layouts, variants, options, model, cancellable, callback) {
            this._world.call(`set_keymap_async(${[layouts, variants, options, model].join('|')})`);
            this._keymap(layouts, variants);
            this._announce(true, callback);
        }

        set_keymap_finish() {}

        set_keymap_layout_group_async(n, cancellable, callback) {
            this._world.call(`set_keymap_layout_group_async(${n})`);
            this._layout(n);
            this._announce(false, callback);
        }

        set_keymap_layout_group_finish() {}
    },
    '51': class extends Backend {
        set_keymap_async(description, n, cancellable, callback) {
            this._world.call(`set_keymap_async(${description.label}, ${n})`);
            const changed = !description.direct_equal(this._description);
            if (changed)
                this._keymap(description.rules.layouts, description.rules.variants);
            this._description = description;
            this._layout(n);
            this._announce(changed, callback);
        }

        set_keymap_finish() {}

        get_keymap_description() {
            return this._description;
        }
    },
};

// A world of one release's shape in which the user's keymap is {layouts, variants}.
export class StandIn {
    constructor(shape, {layouts, variants}) {
        this.calls = [];
        this.effects = [];
        this.keys = [];
        this.capsLock = false;
        this.grabFails = false;
        this.grabs = 0;
        // The X server of X11 windows: reachable, answering; its connections still open.
        this.xServer = {reachable: true, answers: true, open: 0};
        const world = this;
        this.XServer = {
            connect: async () => world.xServer.reachable ? (++world.xServer.open, {
                roundTrip: async () => world.xServer.answers,
                close: () => --world.xServer.open,
            }) : null,
        };
        this.atKey = null; // run after each key of a text (its number), before the key is passed
        const backend = new backends[shape](this);
        const modern = shape === '51';
        const keyboard = {
            notify_keyval: (time, keysym, state) => {
                if (state === 1 && keysym === SENTINEL_KEYSYM)
                    this._passLater();
                else if (state === 1)
                    this.keys.push(keysym);
            },
            run_dispose() {},
        };
        const seat = {
            create_virtual_device: () => keyboard,
            get_keymap: () => ({get_caps_lock_state: () => this.capsLock}),
        };
        const clutterBackend = {get_default_seat: () => seat};
        this.Meta = {
            get_backend: shape === '43' ? () => backend : undefined,
            KeymapDescription: modern ? {new_from_rules: (...a) => new Description(...a)}
                : undefined,
            WindowClientType: {WAYLAND: 0, X11: 1},
            KeyBindingAction: {NONE: 0},
            KeyBindingFlags: {NONE: 0},
            WindowType: {NORMAL: 0, DIALOG: 3, MODAL_DIALOG: 4, UTILITY: 5},
            external_binding_name_for_action: action => `external-grab-${action}`,
        };
        this.display = Object.assign(new Signals(), {
            focus_window: null,
            grab_accelerator: () => this.grabFails ? 0 : (++this.grabs, ACTION),
            ungrab_accelerator: () => --this.grabs,
            sort_windows_by_stacking: windows => windows,
        });
        this.global = {
            backend: shape === '43' ? undefined : backend,
            stage: {key_focus: null,
                context: modern ? {get_backend: () => clutterBackend} : undefined},
            display: this.display,
            get_window_actors: () => this.windows.map(w => ({meta_window: w})),
        };
        this.manager = {_current: {groupIndex: 0}};
        this.chooseKeymap({layouts, variants});
        this.backend = backend;
        backend._description = this.manager._ourKeymapDescription;
        this.windows = [];
        this.services = {
            GLib,
            Meta: this.Meta,
            Clutter: {
                get_default_backend: modern ? undefined : () => clutterBackend,
                InputDeviceType: {KEYBOARD_DEVICE: 1},
                KeyState: {RELEASED: 0, PRESSED: 1},
                ModifierType: {SHIFT_MASK: 1, CONTROL_MASK: 4, MOD1_MASK: 8, MOD4_MASK: 64,
                    SUPER_MASK: 1 << 26, HYPER_MASK: 1 << 27, META_MASK: 1 << 28},
            },
            Shell: {ActionMode: {ALL: ~0}},
            Main: {wm: {allowKeybinding() {}}},
            KeyboardManager: {getKeyboardManager: () => this.manager},
            global: this.global,
        };
    }

    // Puts the user's choice of input sources in force, as the shell's keyboard manager does.
    chooseKeymap({layouts, variants}) {
        const own = {layouts, variants, options: '', model: 'pc105'};
        if (this.Meta.KeymapDescription) {
            own.displayNames = layouts.split(',').map(l => l.toUpperCase());
            own.shortNames = layouts.split(',');
            this.manager._ourKeymapDescription = new Description(own.model, layouts, variants,
                own.options, own.displayNames);
        }
        this.manager._currentKeymap = own;
    }

    // A window, with the focus.
    window(x11) {
        const actor = {get_parent: () => null};
        const w = Object.assign(new Signals(), {
            get_compositor_private: () => actor,
            get_client_type: () => x11 ? 1 : 0,
            get_id: () => this.windows.indexOf(w) + 1,
            get_title: () => `window ${this.windows.indexOf(w) + 1}`,
            get_wm_class: () => 'Stand-in',
            get_pid: () => 0,
            get_window_type: () => 0,
            is_override_redirect: () => false,
        });
        this.windows.push(w);
        this.display.focus_window = w;
        return w;
    }

    call(text) {
        this.calls.push(text);
    }

    // Logs effect, with the marks of the symbols file where the keymap names one of Keyflare's.
    inForce(effect, layouts = '') {
        const file = layouts.split(',').find(l => l.startsWith('keyflare'));
        if (!file) {
            this.effects.push(effect);
            return;
        }
        const path = `${GLib.get_user_config_dir()}/xkb/symbols/${file}`;
        const text = GLib.file_test(path, GLib.FileTest.EXISTS)
            ? new TextDecoder().decode(GLib.file_get_contents(path)[1]) : '';
        const names = [...text.matchAll(/^xkb_symbols "([^"]*)"/gm)].map(m => m[1]);
        const marks = [...text.matchAll(/\/\/ (\w+)/g)].map(m => m[1]);
        const expected = names.map((n, i) => `k${i + 1}`);
        if (names.join() !== expected.join())
            marks.push(`sections named ${names}`);
        this.effects.push(`${effect} ${marks.join(' ') || '(no file)'}`);
    }

    // What a send leaves that it should not: a grab, a handler, a symbols folder.
    leftovers() {
        const left = [];
        if (this.grabs !== 0)
            left.push(`${this.grabs} grabs`);
        if (this.xServer.open !== 0)
            left.push('an X connection');
        if (this.display.connected || this.backend.connected)
            left.push('handlers');
        if (GLib.file_test(`${GLib.get_user_config_dir()}/xkb`, GLib.FileTest.EXISTS))
            left.push('the xkb folder');
        return left;
    }

    async _passLater() {
        await this.atKey?.(this.keys.filter(k => k !== 0xffe5).length);
        later(() => this.display.emit('accelerator-activated', ACTION));
    }
}
