const {Gio, GLib, Clutter} = imports.gi;
const Main = imports.ui.main;
const Keyboard = imports.ui.status.keyboard;
