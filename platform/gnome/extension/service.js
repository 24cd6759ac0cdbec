// Keyflare's helper inside GNOME Shell. GNOME lets no ordinary program list, activate or type into
// other windows; this service does it for Keyflare alone, over the session bus. Both forms of the
// extension (the legacy one for GNOME 43 and 44, the module one for 45 and later) wrap this body,
// after keymap.js and typing.js: each puts Gio, GLib, Meta, Clutter, Shell, Main and
// KeyboardManager in scope before them.

const BUS_NAME = 'org.keyflare.Shell';
const OBJECT_PATH = '/org/keyflare/Shell';
// Keyflare checks it on connecting: a copy of the extension older than Keyflare is reported.
const VERSION = 3;
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
      <arg type="u" direction="in" name="limitMs"/>
      <arg type="u" direction="out" name="typed"/>
      <arg type="s" direction="out" name="outcome"/>
      <arg type="u" direction="out" name="remappedMicroseconds"/>
    </method>
    <method name="RestoreKeymap"/>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// How long a window may take to get the focus.
const FOCUS_WAIT_MS = 1000;
const HELD_MASK = Clutter.ModifierType.SHIFT_MASK | Clutter.ModifierType.CONTROL_MASK |
    Clutter.ModifierType.MOD1_MASK | Clutter.ModifierType.MOD4_MASK |
    Clutter.ModifierType.SUPER_MASK | Clutter.ModifierType.HYPER_MASK |
    Clutter.ModifierType.META_MASK;
const TYPED_WINDOWS = [Meta.WindowType.NORMAL, Meta.WindowType.DIALOG,
    Meta.WindowType.MODAL_DIALOG, Meta.WindowType.UTILITY];

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
        this._typing = null; // the bus name a send under way types for
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
                if (owner)
                    return;
                this._callers.delete(name);
                // Nobody waits for the rest of a text whose caller has gone.
                if (name === this._typing)
                    this._typist.cancel();
            });
        this._typist = new Typist();
    }

    disable() {
        this._typist.destroy();
        this._typist = null;
        Gio.DBus.session.signal_unsubscribe(this._leftId);
        this._callers.clear();
        Gio.bus_unown_name(this._nameId);
        this._impl.unexport();
        this._impl = null;
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

    // Types for at most limitMs: Keyflare waits that long and a little more, so that nothing is
    // typed after it has given up.
    TypeAsync([id, symbols, parts, limitMs], invocation) {
        return this._serve(invocation, async () => {
            if (this._typing) {
                invocation.return_value(new GLib.Variant('(usu)', [0, 'busy', 0]));
                return;
            }
            this._typing = invocation.get_sender();
            const deadline = GLib.get_monotonic_time() + limitMs * 1000;
            try {
                const [typed, outcome, remapped] = await this._typist.type(this._find(id), symbols,
                    parts, deadline);
                invocation.return_value(new GLib.Variant('(usu)', [typed, outcome, remapped ?? 0]));
            } catch (e) {
                logError(e, 'Keyflare could not type');
                invocation.return_value(new GLib.Variant('(usu)', [0, 'failed', 0]));
            } finally {
                this._typing = null;
            }
        });
    }

    RestoreKeymapAsync(params, invocation) {
        return this._serve(invocation, async () => {
            if (!this._typing)
                await this._typist.giveKeymapBack().catch(logError);
            invocation.return_value(null);
        });
    }
};
