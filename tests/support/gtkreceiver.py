#!/usr/bin/env python3
# A GTK 3 text entry that records what arrives in it: the whole text, into a file, after every
# change. Usage: gtkreceiver.py TITLE OUTPUT
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def main():
    title, out = sys.argv[1], sys.argv[2]
    # Text typed after the entry gets the focus back goes after what it holds, as in a terminal,
    # rather than over the whole of it.
    Gtk.Settings.get_default().set_property("gtk-entry-select-on-focus", False)
    window = Gtk.Window(title=title)
    entry = Gtk.Entry()
    entry.set_max_length(0)

    def changed(widget):
        with open(out, "wb") as f:
            f.write(widget.get_text().encode("utf-8"))

    entry.connect("changed", changed)
    window.add(entry)
    window.set_default_size(600, 60)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()


main()
