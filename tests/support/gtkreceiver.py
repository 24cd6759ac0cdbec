#!/usr/bin/env python3
# A GTK 3 text entry that records what arrives in it: the whole text, into a file, once the keys
# that came have been taken in, every 2 ms at most. Usage: gtkreceiver.py TITLE OUTPUT
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    title, out = sys.argv[1], sys.argv[2]
    # Text typed after the entry gets the focus back goes after what it holds, as in a terminal,
    # rather than over the whole of it.
    Gtk.Settings.get_default().set_property("gtk-entry-select-on-focus", False)
    window = Gtk.Window(title=title)
    entry = Gtk.Entry()
    entry.set_max_length(0)

    pending = []

    # Replaced whole, so that a reader never sees it half written.
    def write():
        pending.clear()
        with open(out + ".new", "wb") as f:
            f.write(entry.get_text().encode("utf-8"))
        os.replace(out + ".new", out)
        return GLib.SOURCE_REMOVE

    # Written at most every 2 ms: a file written per character made this entry slower than the
    # programs it stands for. Not when idle: a shell may keep the entry redrawing for long.
    def changed(widget):
        if not pending:
            pending.append(GLib.timeout_add(2, write))

    entry.connect("changed", changed)
    window.add(entry)
    window.set_default_size(600, 60)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()


main()
