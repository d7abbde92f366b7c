#!/usr/bin/python3
"""A native GTK 3 window for the desktop tests: a text view with the keyboard focus that writes all
it holds to the record file on every change, so a test sees each paste (and a doubled one).

Usage: gtk_paste_target.py --record FILE --ready FILE
The ready file appears once the window has the focus."""
import argparse
import os

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def write_atomically(path, text):
    scratch = path + ".part"
    with open(scratch, "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(scratch, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    # The name the desktop knows the window by (its Wayland app id).
    GLib.set_prgname("vak-gtk-target")
    window = Gtk.Window(title="vak GTK target")
    window.set_default_size(480, 240)
    view = Gtk.TextView()
    window.add(view)
    buffer = view.get_buffer()
    write_atomically(args.record, "")

    def changed(_buffer):
        start, end = buffer.get_bounds()
        write_atomically(args.record, buffer.get_text(start, end, True))

    def focused(*_):
        if not os.path.exists(args.ready):
            write_atomically(args.ready, "")
        return False

    buffer.connect("changed", changed)
    window.connect("focus-in-event", focused)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    view.grab_focus()
    window.present()
    Gtk.main()


if __name__ == "__main__":
    main()
