// Typing a text into the focused window from inside the shell: the text's own layouts are put in
// force beside the user's, each key goes through a virtual keyboard, and the user's keymap comes
// back once the last key has passed. Uses keymap.js, and xserver.js for X11 windows.

// Typist, on the shell's services, keymap.js's calls and xserver.js's XServer.
function typingPart({GLib, Meta, Clutter, Shell, Main, KeyboardManager, global},
    {seat, userKeymap, userLayout, namesBeside, writeSymbols, applyKeymap}, XServer) {
    // How long the shell may take to pass a key on.
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
    // Keys that keep their own places in every layout, the text's too.
    const OWN_KEYS = [0xff0d, 0xff09]; // Return, Tab

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

    // Resolves once the shell's main loop has run what is queued ahead.
    function idle() {
        return new Promise(resolve => GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
            resolve();
            return GLib.SOURCE_REMOVE;
        }));
    }

    // The sections of a symbols file, one a layout, in order.
    function sectionsOf(symbols) {
        return symbols.match(/^xkb_symbols "[^"]*" \{\n[\s\S]*?^\};\n/gm) ?? [];
    }

    // Where each part of a text goes, and the layouts to keep: beside the user's layouts where
    // they fit (one keymap for the whole text), else alone, one after the other. Layouts kept for
    // an X11 program that may still be reading stay where they are, where the text's fit after
    // them. The shell adds a layout for the language of the desktop after the user's own (for
    // shortcuts such as Alt+F under a Cyrillic layout): where the text needs its room, it goes
    // while the text's layouts stand. Writes the layouts with writeSymbols; null when it cannot.
    function planLayouts(own, parts, symbols, kept) {
        const layouts = own.layouts.split(',');
        const variants = own.variants.split(',');
        while (variants.length < layouts.length)
            variants.push('');
        let users = layouts.length;
        let held = kept ?? {parts: [], sections: []};
        if (kept && kept.first + kept.parts.length + parts.length <= MOST_LAYOUTS)
            users = kept.first;
        else
            held = {parts: [], sections: []};
        if (users + held.parts.length + parts.length > MOST_LAYOUTS && users > 1)
            --users;
        const sections = [...held.sections, ...sectionsOf(symbols)];
        const file = writeSymbols(sections.map((text, n) =>
            text.replace(/^xkb_symbols "[^"]*"/, `xkb_symbols "k${n + 1}"`)).join(''));
        if (!file)
            return null;
        const all = held.parts.length + parts.length;
        if (users + all > MOST_LAYOUTS) {
            return {
                file,
                keymapOf: i => ({layouts: file.layout, variants: `k${i + 1}`,
                    options: own.options}),
                layoutOf: () => 0,
            };
        }
        const keymap = {
            layouts: [...layouts.slice(0, users), ...sections.map(() => file.layout)].join(','),
            variants: [...variants.slice(0, users), ...sections.map((t, n) => `k${n + 1}`)]
                .join(','),
            options: own.options,
            model: own.model,
            ...namesBeside(own, users, all),
        };
        // Later parts only lock their layout of the same keymap.
        return {
            file,
            keymapOf: i => i === 0 ? keymap : null,
            layoutOf: i => users + held.parts.length + i,
            keep: {first: users, parts: [...held.parts, ...parts], sections},
        };
    }

    class Typist {
        constructor() {
            this._keyboard = seat().create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
            this._kept = null;
        }

        destroy() {
            this._restore?.().catch(logError);
            this.giveKeymapBack().catch(logError);
            this._keyboard.run_dispose();
            this._keyboard = null;
        }

        // Stops the send under way before its next key (its caller has gone).
        cancel() {
            this._cancelled = true;
        }

        // Types parts (keysyms, each part laid out in section "p<n>" of symbols) into target, which
        // has the focus, until deadline (monotonic microseconds); resolves to [keys typed, its
        // ShellOutcome, microseconds the user's keymap was away].
        async type(target, symbols, parts, deadline) {
            this._cancelled = false;
            if (!target || global.display.focus_window !== target || shellHoldsKeyboard(target))
                return [0, ShellOutcome.focusLost, 0];
            // An X11 window's keys wait for its server: nothing is typed or changed without it.
            const x11 = target.get_client_type() === Meta.WindowClientType.X11;
            const server = x11 ? await XServer.connect() : null;
            if (x11 && !server)
                return [0, ShellOutcome.xServerSilent, 0];
            try {
                return await this._type(target, symbols, parts, deadline, server);
            } finally {
                server?.close();
            }
        }

        // type() with server, the X11 window's XServer (null for a Wayland window).
        async _type(target, symbols, parts, deadline, server) {
            const x11 = server !== null;
            const manager = KeyboardManager.getKeyboardManager();
            // A text whose characters the kept layouts hold is typed with them, the keymap left as
            // it stands: an X11 program may not have read the last text's keys yet.
            const kept = this._kept && manager._currentKeymap === this._kept.user.own
                ? this._kept : null;
            const reused = kept && this._keptLayoutsFor(kept, parts);
            // The shell applies the user's input sources, and keeps what it applied.
            const user = kept ? kept.user : userKeymap();
            if (!user)
                return [0, ShellOutcome.keymapUnknown, 0];
            const source = manager._current;
            // The kept layouts wait while the text is typed; its end keeps them again, or not.
            if (kept?.timeout)
                GLib.source_remove(kept.timeout);
            if (kept)
                kept.timeout = 0;
            const plan = reused
                ? {keymapOf: () => null, layoutOf: i => reused[i], keep: kept}
                : planLayouts(user.own, parts, symbols, kept);
            if (!plan) {
                if (kept)
                    this._keepKeymap(kept.user, kept);
                return [0, ShellOutcome.failed, 0];
            }
            const capsLock = seat().get_keymap().get_caps_lock_state();
            // Caps Lock, where on, is let go for the text's keys and taken up again after them; a
            // send that ends before it was let go leaves it alone.
            let capsLetGo = false;
            const since = GLib.get_monotonic_time();
            let remapped = 0;
            let action = Meta.KeyBindingAction.NONE;
            let activatedId = 0;
            // Gives the user's keys back: their layout at once, and their keymap unless it is
            // kept for an X11 program. Where the user has chosen other input sources meanwhile, the
            // shell puts them in force itself, and nothing of the send's is put over them.
            this._restore = async () => {
                this._restore = null;
                if (activatedId)
                    global.display.disconnect(activatedId);
                if (action !== Meta.KeyBindingAction.NONE)
                    global.display.ungrab_accelerator(action);
                const chosen = manager._currentKeymap !== user.own;
                const keep = plan.keep && x11 && !chosen;
                if (keep)
                    this._keepKeymap(user, plan.keep);
                else
                    this._dropKeptKeymap();
                if (!chosen)
                    await applyKeymap(keep ? null : user.keymap, userLayout(user.layout));
                remapped = GLib.get_monotonic_time() - since;
                if (capsLetGo)
                    this._press(CAPS_LOCK_KEYSYM);
            };
            let typed = 0;
            let outcome = ShellOutcome.done;
            try {
                await applyKeymap(plan.keymapOf(0), plan.layoutOf(0));
                // Compiled into the keymap in force; layouts one after the other need it again.
                if (plan.keep)
                    plan.file?.remove();
                action = global.display.grab_accelerator(SENTINEL, Meta.KeyBindingFlags.NONE);
                if (action === Meta.KeyBindingAction.NONE)
                    return [0, ShellOutcome.failed, 0];
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                    Shell.ActionMode.ALL);
                activatedId = global.display.connect('accelerator-activated', (d, a) => {
                    if (a === action)
                        this._passed?.();
                });
                if (capsLock) {
                    this._press(CAPS_LOCK_KEYSYM);
                    capsLetGo = true;
                }
                for (let i = 0; i < parts.length && outcome === ShellOutcome.done; ++i) {
                    outcome = this._stopReason(target, deadline, manager, user, source);
                    if (i > 0 && outcome === ShellOutcome.done)
                        await applyKeymap(plan.keymapOf(i), plan.layoutOf(i));
                    for (const keysym of parts[i]) {
                        outcome = this._stopReason(target, deadline, manager, user, source);
                        if (outcome !== ShellOutcome.done)
                            break;
                        const asTyped = () => manager._currentKeymap === user.own &&
                            manager._current === source;
                        if (!await this._pressAndPass(keysym, asTyped)) {
                            // A keymap of the user's choice drops the sentinel's key too, or
                            // leaves the key under way of unknown meaning: it is not counted.
                            outcome = this._stopReason(target, deadline, manager, user, source);
                            if (outcome === ShellOutcome.done)
                                outcome = ShellOutcome.busy;
                            break;
                        }
                        ++typed;
                        // Xwayland has read the key once it answers. The shell learns that an
                        // X11 window lost the focus from Xwayland, which moves it at once: the
                        // answer comes after that news, and the pause lets the shell take it
                        // in, before the focus is looked at again.
                        if (server) {
                            if (!await server.roundTrip()) {
                                outcome = ShellOutcome.xServerSilent;
                                break;
                            }
                            await idle();
                        }
                    }
                }
            } finally {
                plan.file?.remove();
                await this._restore?.();
            }
            return [typed, outcome, remapped];
        }

        // ShellOutcome.done while the next key may go: the target keeps the focus (the user may
        // move it: with one key under way at a time, at most that one reaches another window), the
        // caller waits, and the user has chosen no other input source, which the shell puts in
        // force over the text's.
        _stopReason(target, deadline, manager, user, source) {
            if (global.display.focus_window !== target)
                return ShellOutcome.focusLost;
            if (this._cancelled)
                return ShellOutcome.cancelled;
            if (GLib.get_monotonic_time() > deadline)
                return ShellOutcome.timedOut;
            if (manager._currentKeymap !== user.own || manager._current !== source)
                return ShellOutcome.keymapChanged;
            return ShellOutcome.done;
        }

        // The kept layout to type each of parts with, where the kept layouts hold all of their
        // characters; null otherwise.
        _keptLayoutsFor(kept, parts) {
            const layouts = [];
            for (const part of parts) {
                const i = kept.parts.findIndex(held => part.every(k => OWN_KEYS.includes(k) ||
                    held.includes(k)));
                if (i < 0)
                    return null;
                layouts.push(kept.first + i);
            }
            return layouts;
        }

        _press(keysym) {
            const t = GLib.get_monotonic_time();
            this._keyboard.notify_keyval(t, keysym, Clutter.KeyState.PRESSED);
            this._keyboard.notify_keyval(t, keysym, Clutter.KeyState.RELEASED);
        }

        // Types keysym, then the sentinel, and waits until the shell has acted on the sentinel, and
        // so handed keysym on: keys queued ahead would go to whichever window has the focus when
        // they come through. Resolves to true where keysym passed with the meaning it was typed
        // with: asTyped() tells, as the sentinel passes, that the text's keymap and layout were
        // still in force. The shell sends windows the keymap or layout the user chooses the
        // moment it puts it in force, so a key it hands on after that may be read with the
        // user's choice: no one can tell which character it gave.
        _pressAndPass(keysym, asTyped) {
            return new Promise(resolve => {
                const timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, KEY_WAIT_MS, () => {
                    this._passed = null;
                    resolve(false);
                    return GLib.SOURCE_REMOVE;
                });
                this._passed = () => {
                    this._passed = null;
                    GLib.source_remove(timeout);
                    resolve(asTyped());
                };
                this._press(keysym);
                this._press(SENTINEL_KEYSYM);
            });
        }

        // Leaves the keymap with the text's layouts ({first, parts, sections}: where they stand,
        // the keysyms of each and its symbols) beside the user's for a while; the user's keys
        // already mean what they always do.
        _keepKeymap(user, layouts) {
            this._dropKeptKeymap();
            this._kept = {
                user,
                first: layouts.first,
                parts: layouts.parts,
                sections: layouts.sections,
                timeout: GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT, KEEP_FOR_X11_S, () => {
                    this._kept.timeout = 0;
                    this.giveKeymapBack().catch(logError);
                    return GLib.SOURCE_REMOVE;
                }),
            };
        }

        _dropKeptKeymap() {
            if (this._kept?.timeout)
                GLib.source_remove(this._kept.timeout);
            this._kept = null;
        }

        // Gives the user's keymap back where the text's layouts are kept beside it.
        async giveKeymapBack() {
            const kept = this._kept;
            this._dropKeptKeymap();
            // Where the user has chosen other input sources meanwhile, the shell has put them in
            // force already.
            if (kept && KeyboardManager.getKeyboardManager()._currentKeymap === kept.user.own)
                await applyKeymap(kept.user.keymap, userLayout(0));
        }
    }

    return Typist;
}
