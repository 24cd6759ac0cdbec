// GNOME Shell 43 and 44 load extensions as scripts.
const {Gio, GLib, Meta, Clutter, Shell} = imports.gi;
// What the extension's parts use of the shell.
const shellServices = {Gio, GLib, Meta, Clutter, Shell, Main: imports.ui.main,
    KeyboardManager: imports.misc.keyboardManager, global};
