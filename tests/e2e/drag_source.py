"""A drag source for the end-to-end tests: the X server has none of its own. A small undecorated
GTK window at X Y offers the given URIs (text/uri-list, and as text) to whatever they are dropped
on, through the ordinary XDND protocol. It prints "ready" once shown, "begin" when a drag starts
and "end" when it is over (after which it exits), "failed" before it when nothing took the drop.

    /usr/bin/python3 drag_source.py X Y URI...

Runs with the system's Python, which has the GTK bindings (python3-gi, gir1.2-gtk-3.0)."""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

URIS, TEXT = 0, 1


def say(word):
    print(word, flush=True)


def main():
    x, y, uris = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
    window = Gtk.Window(type=Gtk.WindowType.TOPLEVEL)
    window.set_decorated(False)
    window.set_default_size(200, 100)
    window.move(x, y)
    box = Gtk.EventBox()
    box.add(Gtk.Label(label="drag me"))
    window.add(box)
    box.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [],
                        Gdk.DragAction.COPY | Gdk.DragAction.LINK | Gdk.DragAction.MOVE)
    targets = Gtk.TargetList.new([])
    targets.add_uri_targets(URIS)
    targets.add_text_targets(TEXT)
    box.drag_source_set_target_list(targets)

    def data_get(widget, context, data, info, time):
        if info == URIS:
            data.set_uris(uris)
        else:
            data.set_text("\n".join(uris), -1)

    def end(*_):
        say("end")
        Gtk.main_quit()

    box.connect("drag-data-get", data_get)
    box.connect("drag-begin", lambda *_: say("begin"))
    box.connect("drag-failed", lambda _w, _c, result: say("failed") or False)
    box.connect("drag-end", end)
    window.connect("map-event", lambda *_: say("ready"))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
