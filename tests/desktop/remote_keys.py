"""Keys for a headless mutter, through its RemoteDesktop D-Bus interface: one session kept
open for the whole test, since mutter ends a session with the client that made it. Reads key
combinations from standard input, one a line ("alt+c", "Return"), and types each.
"""
import sys
import time

from gi.repository import Gio, GLib

KEYSYMS = {"return": 0xFF0D, "escape": 0xFF1B, "tab": 0xFF09, "f1": 0xFFBE, "f4": 0xFFC1,
           "alt": 0xFFE9, "ctrl": 0xFFE3, "shift": 0xFFE1, "down": 0xFF54, "up": 0xFF52}


def keysym(name):
    name = name.lower()
    if name in KEYSYMS:
        return KEYSYMS[name]
    if len(name) == 1:
        return ord(name)
    raise ValueError(name)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    path = bus.call_sync("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                         "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                         GLib.VariantType("(o)"), 0, 5000, None).unpack()[0]

    def session(method, args=None):
        bus.call_sync("org.gnome.Mutter.RemoteDesktop", path,
                      "org.gnome.Mutter.RemoteDesktop.Session", method, args, None, 0, 5000,
                      None)

    def press(sym, down):
        session("NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, down)))

    session("Start")
    # The first key only makes the seat's keyboard.
    press(keysym("shift"), True)
    press(keysym("shift"), False)
    time.sleep(0.5)
    print("ready", flush=True)
    for line in sys.stdin:
        combination = [keysym(part) for part in line.strip().split("+") if part]
        for sym in combination:
            press(sym, True)
        for sym in reversed(combination):
            press(sym, False)
        print("sent " + line.strip(), flush=True)
    session("Stop")


if __name__ == "__main__":
    main()
