// Keyflare's helper inside GNOME Shell. GNOME lets no ordinary program list, activate or type into
// other windows; this service does it for Keyflare alone, over the session bus: it checks the
// caller and hands the call to windows.js or typing.js. Both forms of the extension (the legacy one
// for GNOME 43 and 44, the module one for 45 and later) wrap the parts after names.js, and give
// keyflareService the shell's services: Gio, GLib, Meta, Clutter, Shell, Main, KeyboardManager
// and global.

// The service of the extension in folder, made of its parts on the shell's services.
function keyflareService(shell, folder) {
    const Typist = typingPart(shell, keymapPart(shell), xServerPart(shell));
    const KeyflareService = servicePart(shell, Typist, windowsPart(shell));
    return new KeyflareService(folder);
}

// KeyflareService, on the shell's services, Typist (typing.js) and the window calls (windows.js).
function servicePart({Gio, GLib}, Typist, windows) {
    const INTERFACE_XML = `<node>
  <interface name="${ShellBus.interface}">
    <method name="${ShellMethod.Windows}">
      <arg type="a(tsbs)" direction="out" name="windows"/>
    </method>
    <method name="${ShellMethod.Activate}">
      <arg type="t" direction="in" name="id"/>
      <arg type="b" direction="out" name="focused"/>
    </method>
    <method name="${ShellMethod.FocusedWindow}">
      <arg type="t" direction="out" name="id"/>
    </method>
    <method name="${ShellMethod.WindowUnderPointer}">
      <arg type="t" direction="out" name="id"/>
      <arg type="s" direction="out" name="title"/>
      <arg type="b" direction="out" name="own"/>
    </method>
    <method name="${ShellMethod.KeyboardState}">
      <arg type="u" direction="out" name="heldModifiers"/>
    </method>
    <method name="${ShellMethod.Type}">
      <arg type="t" direction="in" name="id"/>
      <arg type="s" direction="in" name="symbols"/>
      <arg type="aau" direction="in" name="parts"/>
      <arg type="u" direction="in" name="limitMs"/>
      <arg type="u" direction="out" name="typed"/>
      <arg type="s" direction="out" name="outcome"/>
      <arg type="u" direction="out" name="remappedMicroseconds"/>
    </method>
    <method name="${ShellMethod.RestoreKeymap}"/>
    <method name="${ShellMethod.WatchWindows}"/>
    <signal name="${ShellBus.windowsChanged}"/>
    <property name="${ShellBus.versionProperty}" type="u" access="read"/>
  </interface>
</node>`;

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
            const device = info.get_attribute_uint32('unix::device');
            return `${device}:${info.get_attribute_uint64('unix::inode')}`;
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

    return class KeyflareService {
        // folder: the extension's own folder, which holds the list of approved executables.
        constructor(folder) {
            this._folder = folder;
            this._callers = new Map(); // bus name -> {pid, started} of the process that connected
            this._typing = null; // the bus name a send under way types for
            this._watchers = new Set(); // the bus names told of window changes
            this._unwatch = null; // stops following the windows
            this._changeSource = 0; // the pending word of a change
        }

        enable() {
            this._impl = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this._exported());
            this._impl.export(Gio.DBus.session, ShellBus.path);
            this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, ShellBus.name,
                Gio.BusNameOwnerFlags.NONE, null, null);
            this._leftId = Gio.DBus.session.signal_subscribe('org.freedesktop.DBus',
                'org.freedesktop.DBus', 'NameOwnerChanged', '/org/freedesktop/DBus', null,
                Gio.DBusSignalFlags.NONE, (c, s, p, i, n, args) => {
                    const [name, , owner] = args.deepUnpack();
                    if (owner)
                        return;
                    this._callers.delete(name);
                    this._watchers.delete(name);
                    if (this._watchers.size === 0)
                        this._stopWatching();
                    // Nobody waits for the rest of a text whose caller has gone.
                    if (name === this._typing)
                        this._typist.cancel();
                });
            this._typist = new Typist();
        }

        disable() {
            this._watchers.clear();
            this._stopWatching();
            this._typist.destroy();
            this._typist = null;
            Gio.DBus.session.signal_unsubscribe(this._leftId);
            this._callers.clear();
            Gio.bus_unown_name(this._nameId);
            this._impl.unexport();
            this._impl = null;
        }

        // What the bus reads: the version, and each method's answer, given to approved callers
        // alone.
        _exported() {
            const answers = {
                [ShellMethod.Windows]: this._listWindows,
                [ShellMethod.Activate]: this._activate,
                [ShellMethod.FocusedWindow]: this._focusedWindow,
                [ShellMethod.WindowUnderPointer]: this._windowUnderPointer,
                [ShellMethod.KeyboardState]: this._keyboardState,
                [ShellMethod.Type]: this._type,
                [ShellMethod.RestoreKeymap]: this._restoreKeymap,
                [ShellMethod.WatchWindows]: this._watchWindows,
            };
            const exported = {[ShellBus.versionProperty]: ShellBus.version};
            for (const [method, answer] of Object.entries(answers)) {
                exported[`${method}Async`] = (params, invocation) => this._serve(invocation,
                    caller => answer.call(this, params, invocation, caller));
            }
            return exported;
        }

        // Only the executables named in the extension's "approved-callers" file may call, run by
        // a process that sees the files as the shell does (its own user and mount namespaces; in
        // another, any program can be mounted over an approved path) and that is still the one
        // that connected (a pid can be taken again). The bus tells the process that connected,
        // the kernel what it runs: a file is told by its device and inode, which no mount can
        // fake; asked on every call, as the process may have run another program since the last.
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
                if (readLink(`/proc/${pid}/ns/${ns}`) !== readLink(`/proc/self/ns/${ns}`)) {
                    throw new Error(
                        `process ${pid} sees the files otherwise than the shell (${ns})`);
                }
            }
            const [, bytes] = GLib.file_get_contents(`${this._folder}/approved-callers`);
            const approved = new TextDecoder().decode(bytes).split('\n').map(l => l.trim())
                .filter(l => l.startsWith('/'));
            if (!approved.some(path => fileId(path) === exe)) {
                const program = readLink(`/proc/${pid}/exe`) || 'an unknown program';
                throw new Error(`${program} is not Keyflare`);
            }
            return pid;
        }

        // Runs answer(caller's pid) for an approved caller; every other caller is refused.
        async _serve(invocation, answer) {
            let caller;
            try {
                caller = await this._checkCaller(invocation);
            } catch (e) {
                invocation.return_dbus_error(ShellBus.notAllowed,
                    `Only Keyflare may use this service: ${e.message}`);
                return;
            }
            await answer(caller);
        }

        _listWindows(params, invocation, caller) {
            const list = windows.list().map(w => [w.get_id(), w.get_title() ?? '',
                w.get_pid() === caller, w.get_wm_class() ?? '']);
            invocation.return_value(new GLib.Variant('(a(tsbs))', [list]));
        }

        // From now on the caller, and no one else, is told whenever the windows change: the
        // signal goes to its connection alone, never to the whole bus.
        _watchWindows(params, invocation) {
            this._watchers.add(invocation.get_sender());
            this._unwatch ??= windows.watch(() => this._windowsChanged());
            invocation.return_value(null);
        }

        // Tells the watchers once for a burst of changes (a program opening several windows).
        _windowsChanged() {
            if (this._changeSource)
                return;
            this._changeSource = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
                this._changeSource = 0;
                for (const name of this._watchers) {
                    Gio.DBus.session.emit_signal(name, ShellBus.path, ShellBus.interface,
                        ShellBus.windowsChanged, null);
                }
                return GLib.SOURCE_REMOVE;
            });
        }

        _stopWatching() {
            this._unwatch?.();
            this._unwatch = null;
            if (this._changeSource)
                GLib.source_remove(this._changeSource);
            this._changeSource = 0;
        }

        async _activate([id], invocation) {
            const w = windows.find(id);
            const focused = w ? await windows.activate(w) : false;
            invocation.return_value(new GLib.Variant('(b)', [focused]));
        }

        _focusedWindow(params, invocation) {
            invocation.return_value(new GLib.Variant('(t)', [windows.focusedId()]));
        }

        _windowUnderPointer(params, invocation, caller) {
            const w = windows.underPointer();
            invocation.return_value(new GLib.Variant('(tsb)', w
                ? [w.get_id(), w.get_title() ?? '', w.get_pid() === caller] : [0, '', false]));
        }

        _keyboardState(params, invocation) {
            invocation.return_value(new GLib.Variant('(u)', [windows.heldModifiers()]));
        }

        // Types for at most limitMs: Keyflare waits that long and a little more, so that nothing
        // is typed after it has given up.
        async _type([id, symbols, parts, limitMs], invocation) {
            if (this._typing) {
                invocation.return_value(new GLib.Variant('(usu)', [0, ShellOutcome.busy, 0]));
                return;
            }
            this._typing = invocation.get_sender();
            const deadline = GLib.get_monotonic_time() + limitMs * 1000;
            try {
                const [typed, outcome, remapped] = await this._typist.type(windows.find(id),
                    symbols, parts, deadline);
                invocation.return_value(new GLib.Variant('(usu)', [typed, outcome, remapped ?? 0]));
            } catch (e) {
                logError(e, 'Keyflare could not type');
                invocation.return_value(new GLib.Variant('(usu)', [0, ShellOutcome.failed, 0]));
            } finally {
                this._typing = null;
                // Keyflare ended while the shell still finished the send: the layouts the send
                // keeps for an X11 program go back now, as they would have then.
                if (this._giveBackAfterSend) {
                    this._giveBackAfterSend = false;
                    await this._typist.giveKeymapBack().catch(logError);
                }
            }
        }

        // A send under way keeps its keymap; the user's comes back once it has ended.
        async _restoreKeymap(params, invocation) {
            if (this._typing)
                this._giveBackAfterSend = true;
            else
                await this._typist.giveKeymapBack().catch(logError);
            invocation.return_value(null);
        }
    };
}
