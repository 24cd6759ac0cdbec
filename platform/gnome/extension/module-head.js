// GNOME Shell 45 and later load extensions as modules.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Clutter from 'gi://Clutter';
import Shell from 'gi://Shell';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as KeyboardManager from 'resource:///org/gnome/shell/misc/keyboardManager.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

// What the extension's parts use of the shell.
const shellServices = {Gio, GLib, Meta, Clutter, Shell, Main, KeyboardManager, global};
