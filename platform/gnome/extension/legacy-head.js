// GNOME Shell 43 and 44 load extensions as scripts.
const {Gio, GLib, Meta, Clutter, Shell} = imports.gi;
const Main = imports.ui.main;
const KeyboardManager = imports.misc.keyboardManager;
