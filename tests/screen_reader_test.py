#!/usr/bin/python3
# The window as a screen reader hears it: its accessibility tree read over AT-SPI, as Orca reads
# it, and what it is told during a split pressed from the keyboard. Runs the real program under
# a display of its own, in a D-Bus session of its own (see tests/CMakeLists.txt).
#
#   screen_reader_test.py SPLITTER FOLDER
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

splitter, folder = sys.argv[1], sys.argv[2]
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: heard {got!r}, expected {expected!r}")


def wait(what, done, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = done()
        if result:
            return result
        time.sleep(0.1)
    sys.exit(f"screen_reader_test: gave up waiting for {what} after {seconds} s")


def app():
    for a in pyatspi.Registry.getDesktop(0):
        if a is not None and a.name == "splitter":
            return a
    return None


def find(node, role, name):
    if node.getRoleName() == role and node.name == name:
        return node
    for child in node:
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def states(node):
    return {pyatspi.stateToString(s) for s in node.getState().getStates()}


def labelled_by(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return None


def said(node):
    """What a screen reader says of a control: its label, its name, its role."""
    label = labelled_by(node)
    return " ".join(part for part in (label, node.name, node.getRoleName()) if part)


os.makedirs(folder, exist_ok=True)
data = os.path.join(folder, "heard.bin")
with open(data, "wb") as f:
    f.write(os.urandom(300000))
for name in os.listdir(folder):
    if name != "heard.bin":
        os.remove(os.path.join(folder, name))

env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
program = subprocess.Popen([splitter, data], env=env)
try:
    window = wait("the window in the AT-SPI tree", lambda: (a := app()) and a.childCount and a[0])
    wait("the file given to be chosen", lambda: find(window, "label", "300000 Bytes."))

    # The tree.
    check("the window", f"{window.getRoleName()} {window.name}", "frame Tarvo's File Splitter...")
    path = find(window, "text", "Select File:")
    check("the path box", said(path), "Select File: Select File: text")
    check("the path box read only", {"read only", "editable"} & states(path), {"read only"})
    check("the path box's text", path.queryText().getText(0, -1), data)
    parts = find(window, "text", "No Of Parts:")
    check("the part count editable", "editable" in states(parts), True)
    check("the size", said(find(window, "label", "300000 Bytes.")), "File Size: 300000 Bytes. label")
    check("the status", said(find(window, "label", "Ready...")), "Status: Ready... label")

    # A split pressed from the keyboard: the focus and every status change, as heard.
    heard = []

    def hear(event):
        if event.type.startswith("object:state-changed:focused") and event.detail1:
            heard.append(("focus", said(event.source)))
        elif event.type.startswith("object:property-change:accessible-name"):
            heard.append(("name", said(event.source)))

    def press_split():
        parts.queryEditableText().setTextContents("3")
        split = find(window, "push button", "Split")
        split.queryComponent().grabFocus()
        action = split.queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
        return False

    deadline = time.monotonic() + 20

    def until_done():
        if heard and heard[-1] == ("name", "Status: Done ! label") or time.monotonic() > deadline:
            pyatspi.Registry.stop()
            return False
        return True

    pyatspi.Registry.registerEventListener(
        hear, "object:property-change:accessible-name", "object:state-changed:focused")
    GLib.timeout_add(200, press_split)
    GLib.timeout_add(100, until_done)
    pyatspi.Registry.start()
    if not heard or heard[-1] != ("name", "Status: Done ! label"):
        sys.exit(f"screen_reader_test: gave up waiting for \"Done !\" to be heard: {heard}")
    focus = [what for kind, what in heard if kind == "focus"]
    check("the focus after Split", focus[-1].startswith("Status: "), True)
    check("Exit heard during the run", [f for f in focus if "Exit" in f], [])
    check("the parts", sorted(os.listdir(folder)),
          ["heard.bin", "heard.bin.0", "heard.bin.1", "heard.bin.2", "heard.bin.bat"])
finally:
    program.kill()
    program.wait()

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
