// Keyflare's helper inside GNOME Shell. GNOME lets no ordinary program list, activate or type into
// other windows; this service does it for Keyflare alone, over the session bus. Both forms of the
// extension (the legacy one for GNOME 43 and 44, the module one for 45 and later) wrap this body,
// after keymap.js: each puts Gio, GLib, Meta, Clutter, Shell, Main and KeyboardManager in scope
// before them.

const BUS_NAME = 'org.keyflare.Shell';
const OBJECT_PATH = '/org/keyflare/Shell';
// Keyflare checks it on connecting: a copy of the extension older than Keyflare is reported.
const VERSION = 2;
const INTERFACE_XML = `<node>
  <interface name="org.keyflare.Shell1">
    <method name="Windows">
      <arg type="a(tsb)" direction="out" name="windows"/>
    </method>
    <method name="Activate">
      <arg type="t" direction="in" name="id"/>
      <arg type="b" direction="out" name="focused"/>
    </method>
    <method name="FocusedWindow">
      <arg type="t" direction="out" name="id"/>
    </method>
    <method name="WindowUnderPointer">
      <arg type="t" direction="out" name="id"/>
      <arg type="s" direction="out" name="title"/>
      <arg type="b" direction="out" name="own"/>
    </method>
    <method name="KeyboardState">
      <arg type="u" direction="out" name="heldModifiers"/>
    </method>
    <method name="Type">
      <arg type="t" direction="in" name="id"/>
      <arg type="s" direction="in" name="symbols"/>
      <arg type="aau" direction="in" name="parts"/>
      <arg type="u" direction="out" name="typed"/>
      <arg type="s" direction="out" name="outcome"/>
      <arg type="u" direction="out" name="remappedMicroseconds"/>
    </method>
    <method name="RestoreKeymap"/>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// How long a window may take to get the focus, and the shell to pass a key on.
const FOCUS_WAIT_MS = 1000;
const KEY_WAIT_MS = 5000;
// How long the layouts of a text typed into an X11 window stay beside the user's own: such a
// program reads the keymap only when it comes to the keys, and no signal tells when it has.
const KEEP_FOR_X11_S = 30;
// X11 programs know at most four layouts in a keymap.
const MOST_LAYOUTS = 4;
// Pressed after each key: its binding fires once the shell has passed every earlier key on.
const SENTINEL = 'XF86Launch9';
const SENTINEL_KEYSYM = 0x1008ff49;
const CAPS_LOCK_KEYSYM = 0xffe5;
const HELD_MASK = Clutter.ModifierType.SHIFT_MASK | Clutter.ModifierType.CONTROL_MASK |
    Clutter.ModifierType.MOD1_MASK | Clutter.ModifierType.MOD4_MASK |
    Clutter.ModifierType.SUPER_MASK | Clutter.ModifierType.HYPER_MASK |
    Clutter.ModifierType.META_MASK;
const TYPED_WINDOWS = [Meta.WindowType.NORMAL, Meta.WindowType.DIALOG,
    Meta.WindowType.MODAL_DIALOG, Meta.WindowType.UTILITY];

// Keys go to the shell's own interface while an actor of it holds the keyboard (a search, a
// menu), whichever window has the focus; from GNOME 51 the window's own actor may hold it.
function shellHoldsKeyboard(target) {
    const windowActor = target.get_compositor_private();
    for (let a = global.stage.key_focus; a; a = a.get_parent()) {
        if (a === windowActor)
            return false;
    }
    return global.stage.key_focus !== null;
}

// Calls the bus itself; resolves to the reply.
function busCall(method, args, replyType) {
    return new Promise((resolve, reject) => Gio.DBus.session.call('org.freedesktop.DBus',
        '/org/freedesktop/DBus', 'org.freedesktop.DBus', method, args,
        new GLib.VariantType(replyType), Gio.DBusCallFlags.NONE, -1, null, (bus, result) => {
            try {
                resolve(bus.call_finish(result));
            } catch (e) {
                reject(e);
            }
        }));
}

// The target of a symbolic link; '' when it cannot be read.
function readLink(path) {
    try {
        return GLib.file_read_link(path);
    } catch (e) {
        return '';
    }
}

// The file at path, after every link (for /proc/PID/exe, the running file, even one deleted
// since), as "device:inode"; '' when there is none.
function fileId(path) {
    try {
        const info = Gio.File.new_for_path(path).query_info('unix::device,unix::inode',
            Gio.FileQueryInfoFlags.NONE, null);
        return `${info.get_attribute_uint32('unix::device')}:${info.get_attribute_uint64('unix::inode')}`;
    } catch (e) {
        return '';
    }
}

// When process pid started, in clock ticks since boot: with the pid, it names one process.
function startTime(pid) {
    try {
        const [, bytes] = GLib.file_get_contents(`/proc/${pid}/stat`);
        const stat = new TextDecoder().decode(bytes);
        // After the program's name, which may hold anything, in parentheses: the state is the
        // first field, the start time the twentieth.
        return stat.slice(stat.lastIndexOf(')') + 2).split(' ')[19] ?? '';
    } catch (e) {
        return '';
    }
}

var KeyflareService = class {
    // folder: the extension's own folder, which holds the list of approved executables.
    constructor(folder) {
        this._folder = folder;
        this._callers = new Map(); // bus name -> {pid, started} of the process that connected
        this._typing = false;
    }

    enable() {
        this._impl = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._impl.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        this._leftId = Gio.DBus.session.signal_subscribe('org.freedesktop.DBus',
            'org.freedesktop.DBus', 'NameOwnerChanged', '/org/freedesktop/DBus', null,
            Gio.DBusSignalFlags.NONE, (c, s, p, i, n, args) => {
                const [name, , owner] = args.deepUnpack();
                if (!owner)
                    this._callers.delete(name);
            });
        this._keyboard = seat().create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
    }

    disable() {
        this._restore?.().catch(logError);
        this._giveKeymapBack().catch(logError);
        Gio.DBus.session.signal_unsubscribe(this._leftId);
        this._callers.clear();
        Gio.bus_unown_name(this._nameId);
        this._impl.unexport();
        this._impl = null;
        this._keyboard.run_dispose();
        this._keyboard = null;
    }

    get Version() {
        return VERSION;
    }

    // Only the executables named in the extension's "approved-callers" file may call, run by a
    // process that sees the files as the shell does (its own user and mount namespaces; in
    // another, any program can be mounted over an approved path) and that is still the one that
    // connected (a pid can be taken again). The bus tells the process that connected, the kernel
    // what it runs: a file is told by its device and inode, which no mount can fake; asked on
    // every call, as the process may have run another program since the last one.
    async _checkCaller(invocation) {
        const sender = invocation.get_sender();
        let caller = this._callers.get(sender);
        if (!caller) {
            const [pid] = (await busCall('GetConnectionUnixProcessID',
                new GLib.Variant('(s)', [sender]), '(u)')).deepUnpack();
            caller = {pid, started: startTime(pid)};
            this._callers.set(sender, caller);
        }
        const {pid} = caller;
        const exe = fileId(`/proc/${pid}/exe`);
        if (!caller.started || startTime(pid) !== caller.started || !exe)
            throw new Error('the process that connected is gone');
        for (const ns of ['user', 'mnt']) {
            if (readLink(`/proc/${pid}/ns/${ns}`) !== readLink(`/proc/self/ns/${ns}`))
                throw new Error(`process ${pid} sees the files otherwise than the shell (${ns})`);
        }
        const [, bytes] = GLib.file_get_contents(`${this._folder}/approved-callers`);
        const approved = new TextDecoder().decode(bytes).split('\n').map(l => l.trim())
            .filter(l => l.startsWith('/'));
        if (!approved.some(path => fileId(path) === exe))
            throw new Error(`${readLink(`/proc/${pid}/exe`) || 'an unknown program'} is not Keyflare`);
        return pid;
    }

    // Runs answer(caller's pid) for an approved caller; every other caller is refused.
    async _serve(invocation, answer) {
        let caller;
        try {
            caller = await this._checkCaller(invocation);
        } catch (e) {
            invocation.return_dbus_error('org.keyflare.Shell1.Error.NotAllowed',
                `Only Keyflare may use this service: ${e.message}`);
            return;
        }
        await answer(caller);
    }

    _windows() {
        const windows = global.get_window_actors().map(a => a.meta_window)
            .filter(w => w && !w.is_override_redirect() &&
                TYPED_WINDOWS.includes(w.get_window_type()));
        return global.display.sort_windows_by_stacking(windows);
    }

    _find(id) {
        return this._windows().find(w => w.get_id() === id) ?? null;
    }

    WindowsAsync(params, invocation) {
        return this._serve(invocation, async caller => {
            const list = this._windows().map(w => [w.get_id(), w.get_title() ?? '',
                w.get_pid() === caller]);
            invocation.return_value(new GLib.Variant('(a(tsb))', [list]));
        });
    }

    ActivateAsync([id], invocation) {
        return this._serve(invocation, async () => {
            const w = this._find(id);
            if (!w) {
                invocation.return_value(new GLib.Variant('(b)', [false]));
                return;
            }
            const focused = await new Promise(resolve => {
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
            invocation.return_value(new GLib.Variant('(b)', [focused]));
        });
    }

    FocusedWindowAsync(params, invocation) {
        return this._serve(invocation, async () => {
            const w = global.display.focus_window;
            invocation.return_value(new GLib.Variant('(t)', [w ? w.get_id() : 0]));
        });
    }

    WindowUnderPointerAsync(params, invocation) {
        return this._serve(invocation, async caller => {
            const [x, y] = global.get_pointer();
            const w = this._windows().reverse().find(win => {
                const r = win.get_frame_rect();
                return !win.minimized && win.showing_on_its_workspace() &&
                    x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
            });
            invocation.return_value(new GLib.Variant('(tsb)', w
                ? [w.get_id(), w.get_title() ?? '', w.get_pid() === caller] : [0, '', false]));
        });
    }

    KeyboardStateAsync(params, invocation) {
        return this._serve(invocation, async () => {
            const [, , mods] = global.get_pointer();
            invocation.return_value(new GLib.Variant('(u)', [mods & HELD_MASK]));
        });
    }

    TypeAsync([id, symbols, parts], invocation) {
        return this._serve(invocation, async () => {
            if (this._typing) {
                invocation.return_value(new GLib.Variant('(usu)', [0, 'busy', 0]));
                return;
            }
            this._typing = true;
            try {
                const [typed, outcome, remapped] = await this._type(this._find(id), symbols, parts);
                invocation.return_value(new GLib.Variant('(usu)', [typed, outcome, remapped ?? 0]));
            } catch (e) {
                logError(e, 'Keyflare could not type');
                invocation.return_value(new GLib.Variant('(usu)', [0, 'failed', 0]));
            } finally {
                this._typing = false;
            }
        });
    }

    RestoreKeymapAsync(params, invocation) {
        return this._serve(invocation, async () => {
            if (!this._typing)
                await this._giveKeymapBack().catch(logError);
            invocation.return_value(null);
        });
    }

    _press(keysym) {
        const t = GLib.get_monotonic_time();
        this._keyboard.notify_keyval(t, keysym, Clutter.KeyState.PRESSED);
        this._keyboard.notify_keyval(t, keysym, Clutter.KeyState.RELEASED);
    }

    // Types keysym, then the sentinel, and waits until the shell has acted on the sentinel, and
    // so handed keysym on: keys queued ahead would go to whichever window has the focus when
    // they come through.
    _pressAndPass(keysym) {
        return new Promise(resolve => {
            const timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, KEY_WAIT_MS, () => {
                this._passed = null;
                resolve(false);
                return GLib.SOURCE_REMOVE;
            });
            this._passed = () => {
                this._passed = null;
                GLib.source_remove(timeout);
                resolve(true);
            };
            this._press(keysym);
            this._press(SENTINEL_KEYSYM);
        });
    }

    // Puts the text's layouts in force, types each part's keysyms with its layout while target
    // keeps the focus, waits until the shell has passed every key on, and gives the user's keys
    // back. Where they fit, the text's layouts go beside the user's, so that one keymap serves
    // the whole text and the user's layouts stay as they are: then an X11 program that reads its
    // keys late still finds them, each event carrying the layout it was typed in.
    async _type(target, symbols, parts) {
        if (!target || global.display.focus_window !== target || shellHoldsKeyboard(target))
            return [0, 'focus-lost'];
        // The shell applies the user's input sources, and keeps what it applied.
        const user = userKeymap();
        if (!user)
            return [0, 'keymap-unknown'];
        const own = user.own;
        const capsLock = seat().get_keymap().get_caps_lock_state();
        const file = writeSymbols(symbols);
        if (!file)
            return [0, 'failed'];
        // The shell adds a layout for the language of the desktop after the user's own (for
        // shortcuts such as Alt+F under a Cyrillic layout): where the text needs its room, it
        // goes while the text's layouts stand.
        const layouts = own.layouts.split(',');
        const variants = own.variants.split(',');
        while (variants.length < layouts.length)
            variants.push('');
        let users = layouts.length;
        if (users + parts.length > MOST_LAYOUTS && users > 1)
            --users;
        const beside = users + parts.length <= MOST_LAYOUTS;
        const layoutOf = i => beside ? users + i : 0;
        const keymapOf = i => {
            if (!beside)
                return {layouts: file.layout, variants: `p${i + 1}`, options: own.options};
            return {
                layouts: [...layouts.slice(0, users), ...parts.map(() => file.layout)].join(','),
                variants: [...variants.slice(0, users), ...parts.map((p, n) => `p${n + 1}`)].join(','),
                options: own.options,
                model: own.model,
                ...namesBeside(own, users, parts.length),
            };
        };
        const x11 = target.get_client_type() === Meta.WindowClientType.X11;
        let action = Meta.KeyBindingAction.NONE;
        let activatedId = 0;
        let remappedSince = 0;
        let remapped = 0;
        // Gives the user's keys back: their layout at once, and their keymap unless it is kept.
        this._restore = async () => {
            this._restore = null;
            if (activatedId)
                global.display.disconnect(activatedId);
            if (action !== Meta.KeyBindingAction.NONE)
                global.display.ungrab_accelerator(action);
            const keep = beside && x11;
            if (keep)
                this._keepKeymap(user);
            await applyKeymap(keep ? null : user.keymap, userLayout(user.layout));
            remapped = GLib.get_monotonic_time() - remappedSince;
            if (capsLock)
                this._press(CAPS_LOCK_KEYSYM);
        };
        let typed = 0;
        let outcome = 'done';
        try {
            remappedSince = GLib.get_monotonic_time();
            this._dropKeptKeymap();
            await applyKeymap(keymapOf(0), layoutOf(0));
            if (beside)
                file.remove();
            action = global.display.grab_accelerator(SENTINEL, Meta.KeyBindingFlags.NONE);
            if (action === Meta.KeyBindingAction.NONE)
                return [0, 'failed'];
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                Shell.ActionMode.ALL);
            activatedId = global.display.connect('accelerator-activated', (d, a) => {
                if (a === action)
                    this._passed?.();
            });
            if (capsLock)
                this._press(CAPS_LOCK_KEYSYM);
            for (let i = 0; i < parts.length && outcome === 'done'; ++i) {
                if (i > 0)
                    await applyKeymap(beside ? null : keymapOf(i), layoutOf(i));
                for (const keysym of parts[i]) {
                    // The user may move the focus while we type: with one key under way at a
                    // time, at most that one reaches another window.
                    if (global.display.focus_window !== target) {
                        outcome = 'focus-lost';
                        break;
                    }
                    if (!await this._pressAndPass(keysym)) {
                        outcome = 'busy';
                        break;
                    }
                    // The shell learns that an X11 window lost the focus from Xwayland, which
                    // moves it at once: a round trip brings that news in, and the pause lets
                    // the shell take it in, before the focus is looked at again.
                    if (x11) {
                        global.display.get_current_time_roundtrip();
                        await new Promise(resolve => GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE,
                            () => {
                                resolve();
                                return GLib.SOURCE_REMOVE;
                            }));
                    }
                    ++typed;
                }
            }
        } finally {
            file.remove();
            await this._restore?.();
        }
        return [typed, outcome, remapped];
    }

    // Leaves the keymap with the text's layouts beside the user's for a while; the user's keys
    // already mean what they always do.
    _keepKeymap(user) {
        this._kept = {
            user,
            timeout: GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT, KEEP_FOR_X11_S, () => {
                this._kept.timeout = 0;
                this._giveKeymapBack().catch(logError);
                return GLib.SOURCE_REMOVE;
            }),
        };
    }

    // A new text's keymap replaces the kept one.
    _dropKeptKeymap() {
        if (this._kept?.timeout)
            GLib.source_remove(this._kept.timeout);
        this._kept = null;
    }

    async _giveKeymapBack() {
        const kept = this._kept;
        this._dropKeptKeymap();
        // Where the user has chosen other input sources meanwhile, the shell has put them in
        // force already.
        if (kept && KeyboardManager.getKeyboardManager()._currentKeymap === kept.user.own)
            await applyKeymap(kept.user.keymap, userLayout(0));
    }
};
