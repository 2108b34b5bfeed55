# The window as a screen reader hears it over AT-SPI: its tree, then a split pressed through
# AT-SPI, with the focus and each status as they are told. screen_reader_test.py SPLITTER FOLDER
import os, subprocess, sys, time
import pyatspi
from gi.repository import GLib

def wait(what, found, end=time.monotonic() + 20):
    while not (result := found()):
        if time.monotonic() > end: sys.exit(f"screen_reader_test: no {what} after 20 s")
        time.sleep(0.1)
    return result

def find(node, role, name):
    if node.getRoleName() == role and node.name == name: return node
    return next((f for c in node if (f := find(c, role, name))), None)

def said(node):  # label, name, role: what a screen reader says of a control
    return " ".join([r.getTarget(0).name for r in node.getRelationSet() if r.getRelationType()
                     == pyatspi.RELATION_LABELLED_BY] + [node.name, node.getRoleName()])

os.makedirs(sys.argv[2], exist_ok=True)
with open(data := os.path.join(sys.argv[2], "heard.bin"), "wb") as f: f.write(os.urandom(300000))
program = subprocess.Popen([sys.argv[1], data], env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
try:
    app = lambda: next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "splitter"), None)
    window = wait("window", lambda: (a := app()) and a.childCount and a[0])
    size = wait("size of the file given", lambda: find(window, "label", "300000 Bytes."))
    path = find(window, "text", "Select File:")
    tree = [f"{window.getRoleName()} {window.name}", said(path), said(size), said(find(window, "label", "Ready...")),
            {pyatspi.stateToString(s) for s in path.getState().getStates()} & {"editable", "read only"}]
    heard, done, end = [], ("prope", "Status: Done ! label"), time.monotonic() + 20
    def hear(e):
        if e.type.endswith("accessible-name") or e.detail1: heard.append((e.type[7:12], said(e.source)))
    def press():
        find(window, "text", "No Of Parts:").queryEditableText().setTextContents("3")
        split = find(window, "push button", "Split")
        split.queryComponent().grabFocus()
        split.queryAction().doAction(0)  # Press
    pyatspi.Registry.registerEventListener(hear, "object:property-change:accessible-name", "object:state-changed:focused")
    GLib.timeout_add(200, press)
    GLib.timeout_add(100, lambda: (time.monotonic() > end or done in heard[-1:]) and pyatspi.Registry.stop() or True)
    pyatspi.Registry.start()
finally:
    program.kill()
focus = [what for kind, what in heard if kind == "state"]
expected = ["frame Tarvo's File Splitter...", "Select File: Select File: text", "File Size: 300000 Bytes. label",
            "Status: Ready... label", {"read only"}]
failures = [f"heard {got!r}, expected {want!r}" for got, want in zip(tree, expected) if got != want]
failures += [] if heard[-1:] == [done] else [f"no \"Done !\" heard: {heard[-5:]}"]
if not focus or not focus[-1].startswith("Status: ") or any("Exit" in f for f in focus):
    failures.append(f"the focus went {focus}, not to the status")
sys.exit("\n".join(failures) or 0)
