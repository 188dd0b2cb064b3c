#!/usr/bin/python3
"""Reads a program's accessibility tree over AT-SPI, as a screen reader does.

usage: accessibility_tree.py BUS_ADDRESS APP_NAME [--press NAME]

Prints one line per node, "role | name | description" indented by depth,
with " | focused" after the node that has the keyboard focus.
With --press, also carries out the first action of the first node named
NAME that has one. Exit status: 0 done, 1 no such application or node.
"""
import os
import sys
import time

os.environ["DBUS_SESSION_BUS_ADDRESS"] = sys.argv[1]
import pyatspi  # noqa: E402  (reads the bus address when imported)


def find_application(name, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for application in pyatspi.Registry.getDesktop(0):
            if application is not None and application.name == name:
                return application
        time.sleep(0.5)
    return None


def walk(node, depth, lines, actionable):
    line = "  " * depth + "%s | %s | %s" % (node.getRoleName(), node.name or "", node.description or "")
    if node.getState().contains(pyatspi.STATE_FOCUSED):
        line += " | focused"
    lines.append(line)
    try:
        if node.queryAction().nActions > 0:
            actionable.setdefault(node.name, node)
    except NotImplementedError:
        pass
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            walk(child, depth + 1, lines, actionable)


def main():
    if len(sys.argv) not in (3, 5) or (len(sys.argv) == 5 and sys.argv[3] != "--press"):
        print(__doc__, file=sys.stderr)
        return 2
    application = find_application(sys.argv[2])
    if application is None:
        print("no application named " + sys.argv[2], file=sys.stderr)
        return 1
    lines = []
    actionable = {}
    walk(application, 0, lines, actionable)
    print("\n".join(lines))
    if len(sys.argv) == 5:
        node = actionable.get(sys.argv[4])
        if node is None:
            print("nothing to press named " + sys.argv[4], file=sys.stderr)
            return 1
        node.queryAction().doAction(0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
