#!/usr/bin/python3
"""The quiva window as a screen reader reads it (AT-SPI): `table` prints a line a control,
role|name|description|actions|state; `press NAME` presses a button; `select ROW` a song."""
import sys
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# Atspi.Action's own names for these clash with Accessible's; its old ones still work.
warnings.simplefilter("ignore", DeprecationWarning)


def nodes():
    desktop = Atspi.get_desktop(0)
    stack = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    stack = [app for app in stack if app and app.get_name() == "quiva"]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(node.get_child_at_index(i) for i in range(node.get_child_count()))


def named(role, name):
    return next(n for n in nodes() if n.get_role() == role and n.get_name() == name)


def line(node):
    actions = []
    if "Action" in node.get_interfaces():
        actions = [node.get_action_name(i) for i in range(node.get_n_actions())]
    showing = node.get_state_set().contains(Atspi.StateType.SHOWING)
    return "|".join([node.get_role_name(), node.get_name(), node.get_description(),
                     ",".join(actions), "showing" if showing else "hidden"])


def main(command, argument=None):
    if command == "table":
        print("\n".join(line(n) for n in nodes()))
    elif command == "press":
        named(Atspi.Role.PUSH_BUTTON, argument).do_action(0)
    elif command == "select":
        named(Atspi.Role.LIST, "Playlist").add_row_selection(int(argument))


if __name__ == "__main__":
    main(*sys.argv[1:])
