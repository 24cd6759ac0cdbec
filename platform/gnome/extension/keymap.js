// Keymaps in GNOME Shell, whichever mutter runs: each call is chosen by what the shell offers
// (45 sets layouts, variants and options, 46 adds the model, 49 made changes asynchronous, 50
// takes a keymap description that carries the layout to lock), and every change is waited for
// until the shell has it in force, so that no key is typed with the keymap before it.

// The keymap calls, on the shell's services.
function keymapPart({GLib, Meta, Clutter, KeyboardManager, global}) {
    // How long mutter may take to compile a keymap and put it in force.
    const KEYMAP_WAIT_MS = 5000;

    function backend() {
        return global.backend ?? Meta.get_backend();
    }

    // The seat the user's keyboards belong to (from mutter 51 reached only through the context).
    function seat() {
        const clutter = global.stage.context?.get_backend?.() ?? Clutter.get_default_backend();
        return clutter.get_default_seat();
    }

    // The keymap the shell applied from the user's input sources, and the locked layout; null when
    // the shell has applied none. Where mutter takes descriptions, the shell's own comes along (not
    // the one in force, which may still be a text's), so that giving it back leaves the shell's
    // keymap in force as the shell made it.
    function userKeymap() {
        const manager = KeyboardManager.getKeyboardManager();
        const own = manager._currentKeymap;
        const layout = manager._current?.groupIndex;
        if (!own || layout === undefined)
            return null;
        if (typeof backend().get_keymap_description !== 'function')
            return {own, layout, keymap: own};
        const description = manager._ourKeymapDescription ?? backend().get_keymap_description();
        return {own, layout, keymap: {...own, description}};
    }

    // The layout of the user's input source in force now (the user may pick another meanwhile).
    function userLayout(fallback) {
        return KeyboardManager.getKeyboardManager()._current?.groupIndex ?? fallback;
    }

    // Where mutter names the layouts of a keymap (from 50), the names the shell gave the user's
    // first users layouts, and Keyflare's after them: the shell's indicator shows them while they
    // stand.
    function namesBeside(own, users, count) {
        if (!own.displayNames)
            return {};
        const names = field => [...own.layouts.split(',').slice(0, users).map((layout, i) =>
            own[field][i] ?? layout), ...Array(count).fill('Keyflare')];
        return {displayNames: names('displayNames'), shortNames: names('shortNames')};
    }

    function description(keymap) {
        return keymap.description ?? Meta.KeymapDescription.new_from_rules(keymap.model ?? '',
            keymap.layouts, keymap.variants, keymap.options, keymap.displayNames ?? [],
            keymap.shortNames ?? []);
    }

    // Writes the text's layout where the keymap compiler looks for the user's own layouts, under
    // a name no other file there has; the caller removes it once the keymap is in force.
    function writeSymbols(symbols) {
        const folder = `${GLib.get_user_config_dir()}/xkb/symbols`;
        const made = [];
        for (let dir = folder; !GLib.file_test(dir, GLib.FileTest.IS_DIR);
            dir = GLib.path_get_dirname(dir))
            made.unshift(dir);
        if (GLib.mkdir_with_parents(folder, 0o700) !== 0)
            return null;
        let layout = 'keyflare';
        for (let i = 1; GLib.file_test(`${folder}/${layout}`, GLib.FileTest.EXISTS); ++i)
            layout = `keyflare${i}`;
        const path = `${folder}/${layout}`;
        if (!GLib.file_set_contents(path, symbols))
            return null;
        return {
            layout,
            remove() {
                if (!this.path)
                    return;
                GLib.unlink(this.path);
                for (const dir of made.reverse())
                    GLib.rmdir(dir);
                this.path = null;
            },
            path,
        };
    }

    // Puts keymap ({layouts, variants, options, model}; null: the one in force) and its layout
    // number layout in force; resolves once the shell has both, rejects when mutter refuses or
    // takes too long.
    function applyKeymap(keymap, layout) {
        const b = backend();
        return new Promise((resolve, reject) => {
            let calls = 0;
            let changed = !keymap;
            let timeout = 0;
            const ids = [];
            const finish = error => {
                if (ids.length === 0)
                    return;
                ids.forEach(id => b.disconnect(id));
                ids.length = 0;
                if (timeout)
                    GLib.source_remove(timeout);
                if (error)
                    reject(error);
                else
                    resolve();
            };
            // The new keymap reaches the shell's main loop after the call has returned: each
            // change is announced there, and what is queued ahead of it has run by then.
            const check = () => {
                if (calls !== 0 || !changed)
                    return;
                GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
                    finish();
                    return GLib.SOURCE_REMOVE;
                });
            };
            const done = method => (source, result) => {
                try {
                    source[method](result);
                    --calls;
                    check();
                } catch (e) {
                    finish(e);
                }
            };
            ids.push(b.connect('keymap-changed', () => {
                changed = true;
                check();
            }));
            timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, KEYMAP_WAIT_MS, () => {
                timeout = 0;
                finish(new Error('mutter did not put the keymap in force in time'));
                return GLib.SOURCE_REMOVE;
            });
            try {
                if (typeof Meta.KeymapDescription?.new_from_rules === 'function') {
                    const next = keymap ? description(keymap) : b.get_keymap_description();
                    // The keymap in force, given again, only locks another layout of it.
                    changed ||= next.direct_equal(b.get_keymap_description());
                    calls = 1;
                    b.set_keymap_async(next, layout, null, done('set_keymap_finish'));
                } else if (typeof b.set_keymap_async === 'function') {
                    calls = keymap ? 2 : 1;
                    if (keymap) {
                        b.set_keymap_async(keymap.layouts, keymap.variants, keymap.options,
                            keymap.model ?? '', null, done('set_keymap_finish'));
                    }
                    b.set_keymap_layout_group_async(layout, null,
                        done('set_keymap_layout_group_finish'));
                } else {
                    if (keymap && b.set_keymap.length >= 4)
                        b.set_keymap(keymap.layouts, keymap.variants, keymap.options,
                            keymap.model ?? '');
                    else if (keymap)
                        b.set_keymap(keymap.layouts, keymap.variants, keymap.options);
                    b.lock_layout_group(layout);
                }
            } catch (e) {
                finish(e);
                return;
            }
            check();
        });
    }

    return {seat, userKeymap, userLayout, namesBeside, writeSymbols, applyKeymap};
}
