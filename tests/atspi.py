#!/usr/bin/python3
"""The program's windows as the accessibility bus (AT-SPI) shows them to a screen reader.

atspi.py tree               prints the tree of every window
atspi.py showing PREFIX     succeeds when a window whose title starts so is showing
atspi.py press NAME         presses the shown button, or the menu item, of that name
atspi.py press NAME WINDOW  the same within the shown window whose title starts with WINDOW
atspi.py active PREFIX      succeeds when the window whose title starts so has the keyboard
atspi.py focused NAME       succeeds when the control of that name has the keyboard focus
atspi.py unnamed            lists the showing controls without a name; fails if there is one
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

CONTROLS = {"push button", "text", "slider", "combo box", "check box", "tree", "table", "spin button"}


def program():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and (app.get_name() or "").lower() == "vamplet":
            return app
    return None


def nodes(node, depth=0):
    if node is None or depth > 20:
        return
    yield node, depth
    if node.get_role_name() in ("tree", "table"):  # the cells are the grid's own business
        return
    for i in range(node.get_child_count()):
        yield from nodes(node.get_child_at_index(i), depth + 1)


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def main(argv):
    app = program()
    if app is None:
        return 2
    what = argv[1] if len(argv) > 1 else "tree"
    if what == "tree":
        for node, depth in nodes(app):
            if showing(node):
                print("%s%s \"%s\"" % ("  " * depth, node.get_role_name(), node.get_name()))
        return 0
    if what == "showing":
        return 0 if any(n.get_role_name() in ("frame", "dialog", "alert") and (n.get_name() or "").startswith(argv[2]) and showing(n)
                        for n, _ in nodes(app)) else 1
    if what == "press":  # a shown button, or a menu's item (shown or not)
        if len(argv) > 3:  # within one window: several may have a "Close" or an "OK"
            app = next((n for n, _ in nodes(app) if n.get_role_name() in ("frame", "dialog", "alert") and showing(n)
                        and (n.get_name() or "").startswith(argv[3])), None)
            if app is None:
                return 1
        for node, _ in nodes(app):
            role = node.get_role_name()
            if node.get_name() == argv[2] and (role == "menu item" or role == "push button" and showing(node)):
                node.get_action_iface().do_action(0)
                return 0
        return 1
    if what == "active":
        return 0 if any(n.get_role_name() == "frame" and (n.get_name() or "").startswith(argv[2])
                        and n.get_state_set().contains(Atspi.StateType.ACTIVE) for n, _ in nodes(app)) else 1
    if what == "focused":
        return 0 if any(n.get_name() == argv[2] and n.get_state_set().contains(Atspi.StateType.FOCUSED)
                        for n, _ in nodes(app)) else 1
    if what == "unnamed":
        bad = [n.get_role_name() for n, _ in nodes(app)
               if n.get_role_name() in CONTROLS and showing(n) and not (n.get_name() or "").strip()]
        for role in bad:
            print("unnamed:", role)
        return 1 if bad else 0
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
