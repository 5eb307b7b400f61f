"""What a screen reader finds in VXCONF's windows, read through AT-SPI.

check WINDOW...  every focusable control shown in those windows (by title) has a name, and
                 none borrows its group's title; prints one line per control that fails and
                 exits 1 when any does.
describe NAME    prints the accessible description of the first control named NAME.
names            prints every named node of the program (A11Y_APP, vxconf by default):
                 its name and description, a line each.
listen SECONDS   writes, one a line, the accessibility events of the program for that long:
                 role, name and the event (for announcements of status and progress).
"""
import os
import sys

import pyatspi


def program():
    wanted = os.environ.get("A11Y_APP", "vxconf")
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == wanted:
            return app
    return None


def walk(node, inside=None):
    yield node, inside
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            group = node.name if node.getRoleName() == "panel" else inside
            yield from walk(child, group)


# Roles a user moves to with Tab or the arrows; list and menu items are named by their text.
CONTROLS = {"push button", "check box", "radio button", "text", "combo box", "spin button",
            "list", "tree", "table", "slider", "progress bar", "password text", "page tab"}


def check(titles):
    app = program()
    if app is None:
        print("no vxconf on the accessibility bus")
        return 1
    failures = 0
    seen = 0
    for window in app:
        if window is None or window.name not in titles:
            continue
        seen += 1
        for node, group in walk(window):
            role = node.getRoleName()
            states = node.getState()
            wanted = role == "progress bar" or states.contains(pyatspi.STATE_FOCUSABLE)
            if role not in CONTROLS or not wanted or not states.contains(pyatspi.STATE_SHOWING):
                continue
            name = (node.name or "").strip()
            if not name or (group and name == group):
                print(f"{window.name}: a {role} is named {name!r}")
                failures += 1
    if seen != len(titles):
        print(f"found {seen} of the windows {titles}")
        return 1
    return 1 if failures else 0


def describe(name):
    app = program()
    for window in app or []:
        for node, _ in walk(window):
            if node.name == name and node.getRoleName() in CONTROLS:
                print(node.description or "")
                return 0
    return 1


def listen(seconds):
    def report(event):
        try:
            source = event.source
            print(f"{source.getRoleName()}\t{source.name}\t{event.type}\t{event.any_data}",
                  flush=True)
        except Exception:
            pass

    for kind in ("object:property-change:accessible-name", "object:value-changed",
                 "object:property-change:accessible-value", "object:text-changed:insert"):
        pyatspi.Registry.registerEventListener(report, kind)
    from gi.repository import GLib

    def ready():
        print("ready", flush=True)  # the listeners are registered: the caller may go on
        return False

    GLib.idle_add(ready)
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    pyatspi.Registry.start()
    return 0


def names():
    """Every named node's name and description, a line each."""
    app = program()
    if app is None:
        return 1
    for window in app:
        for node, _ in walk(window):
            if node.name:
                print(f"{node.name}\t{node.description or ''}")
    return 0


if __name__ == "__main__":
    verb = sys.argv[1]
    if verb == "check":
        sys.exit(check(sys.argv[2:]))
    if verb == "describe":
        sys.exit(describe(sys.argv[2]))
    if verb == "names":
        sys.exit(names())
    if verb == "listen":
        sys.exit(listen(float(sys.argv[2])))
    sys.exit(2)
