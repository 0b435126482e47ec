#!/usr/bin/python3
"""The window as a screen reader meets it: the program on a private X server and session
bus, its controls read through the accessibility bus (at-spi2-core's bus and registry,
which the session bus starts for whoever asks for org.a11y.Bus) with pyatspi, and its
keyboard order walked with Tab pressed through the registry.

Usage: accessibility_walk.py PROGRAM, in the folder the program is to run in, with the
environment of its throw-away home; the catalogue service it is pointed at must serve
download 1 slowly enough for the transfer bar to be read. Prints what does not hold and
ends with status 1, or with 0 when everything holds."""
import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import time

TITLE = "Skarvelin Quillmaren"

# Where the keyboard reaches each control: the step after which Tab must land on it
# (for a radio button: on the selected button of its group, whose arrow keys reach the others),
# MENU through the menu bar's keys, READ for what is read but never moved to. "Group"
# is the name of the nearest named container below the window.
START, DOWNLOADED, AUTO, PROXY, ABOUT = "start", "downloaded", "Auto Download ticked", "proxy form", "about box"
MENU, READ = "menu", "read"
CONTROLS = [  # window, group, name, role, reached
    ("main", "Data Format", "Two-Line", "radio button", START),
    ("main", "Data Format", "Three-Line", "radio button", START),
    ("main", "Current Catalog Files", "Current Catalog Files", "list", START),
    ("main", "Complete Daily Data", "Yes", "radio button", START),
    ("main", "Complete Daily Data", "No", "radio button", START),
    ("main", "Space Situation Report", "Yes", "radio button", START),
    ("main", "Space Situation Report", "No", "radio button", START),
    ("main", "Skarvelin User Information", "Username", "text", START),
    ("main", "Skarvelin User Information", "Password", "password text", START),
    ("main", "Skarvelin User Information", "Retain username and password", "check box", START),
    ("main", "Processing", "Auto Download", "check box", START),
    ("main", "Processing", "Initial delay in minutes", "spin button", AUTO),
    ("main", "Auto Download Frequency (per day)", "1", "radio button", AUTO),
    ("main", "Auto Download Frequency (per day)", "2", "radio button", AUTO),
    ("main", "Auto Download Frequency (per day)", "4", "radio button", AUTO),
    ("main", "Processing", "Download Data", "push button", START),
    ("main", "Processing", "Process Data", "push button", DOWNLOADED),
    ("main", "Vantoreal Data Sets", "Vantoreal Data Sets", "list", START),
    ("main", "Vantoreal File Extension", ".txt", "radio button", START),
    ("main", "Vantoreal File Extension", ".tle", "radio button", START),
    ("main", "Vantoreal Data Sets", "Generate Palm format", "check box", START),
    ("main", "Vantoreal Data Sets", "Enable debug logging", "check box", START),
    ("main", "Vantoreal Data Sets", "Stop on errors", "check box", START),
    ("main", "Vantoreal Data Sets", "Feedback to the author", "link", START),
    ("main", "", "Status", "status bar", READ),
    ("main", "Status", "Transfer progress", "progress bar", READ),
    ("main", "", "File", "menu item", MENU),
    ("main", "File", "Save Settings", "menu item", MENU),
    ("main", "File", "Open My TLEs", "menu item", MENU),
    ("main", "File", "Exit", "menu item", MENU),
    ("main", "", "Web Sites", "menu item", MENU),
    ("main", "Web Sites", "Vantoreal", "menu item", MENU),
    ("main", "Web Sites", "Skarvelin", "menu item", MENU),
    ("main", "", "Configuration", "menu item", MENU),
    ("main", "Configuration", "Proxy Server", "menu item", MENU),
    ("main", "Configuration", "Desktop Notifications", "menu item", MENU),
    ("main", "Configuration", "OMM Data Sets", "menu item", MENU),
    ("main", "OMM Data Sets", "None", "menu item", MENU),
    ("main", "OMM Data Sets", "XML", "menu item", MENU),
    ("main", "OMM Data Sets", "CSV", "menu item", MENU),
    ("main", "OMM Data Sets", "JSON", "menu item", MENU),
    ("main", "", "Help", "menu item", MENU),
    ("main", "Help", "Online Help", "menu item", MENU),
    ("main", "Help", "About", "menu item", MENU),
    ("proxy", "", "Use Proxy", "check box", PROXY),
    ("proxy", "", "Auto Check Proxy Settings", "push button", PROXY),
    ("proxy", "", "Proxy Server", "text", PROXY),
    ("proxy", "", "Proxy Port", "text", PROXY),
    ("proxy", "", "Use Authentication", "check box", PROXY),
    ("proxy", "", "Proxy UserID", "text", PROXY),
    ("proxy", "", "Proxy Password", "password text", PROXY),
    ("proxy", "", "Retain Authentication", "check box", PROXY),
    ("proxy", "", "Save", "push button", PROXY),
    ("proxy", "", "Close", "push button", PROXY),
    ("proxy", "", "Clear Settings", "push button", PROXY),
    ("proxy", "", "Status", "status bar", READ),
    ("about", "", "Feedback to the author", "link", ABOUT),
    ("about", "", "OK", "push button", ABOUT),
]
# Roles of what a user works; each such object must be a row above.
INTERACTIVE = {"push button", "check box", "radio button", "text", "password text", "spin button", "list", "link",
               "menu item", "check menu item", "radio menu item", "combo box", "toggle button", "slider", "page tab"}
WAIT = 60  # seconds for anything the program has to do


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: nothing outlives the walk


def start(argv, env, log, **kw):
    return subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            preexec_fn=die_with_parent, **kw)


def first_line(argv, env, log):
    """Starts a server in a process group of its own that writes one line to the
    descriptor its arguments name as {fd}: the process and the line."""
    read, write = os.pipe()
    server = start([a.format(fd=write) for a in argv], env, log, pass_fds=(write,), process_group=0)
    os.close(write)
    with os.fdopen(read) as pipe:
        return server, pipe.readline().strip()


def until(what, condition):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    raise TimeoutError(what)


class Walk:
    def __init__(self, pyatspi, app):
        self.at, self.app, self.failures, self.cycles, self.trees = pyatspi, app, [], {}, {}
        self.unselected = {}

    def fail(self, text):
        self.failures.append(text)

    def window(self, *roles):
        return until(f"{roles} shown", lambda: next((w for w in self.app if w is not None and w.getRoleName() in roles
                                                     and w.getState().contains(self.at.STATE_SHOWING)), None))

    def group(self, o):
        p = o.parent
        while p is not None and p.getRoleName() not in ("frame", "dialog", "alert"):
            if p.name:
                return p.name
            p = p.parent
        return ""

    def read(self, name, window):
        """Every object below the window by (group, name, role), list items checked on the way."""
        tree, stack = {}, list(window)
        while stack:
            o = stack.pop()
            if o is None:
                continue
            if o.getRoleName() == "list item":
                if not o.name:
                    self.fail(f"{name}: an unnamed item in list {o.parent.name!r}")
                continue
            tree.setdefault((self.group(o), o.name, o.getRoleName()), o)
            stack.extend(o)
        self.trees[name] = tree
        return tree

    def find(self, tree, group, name, role):
        return until(f"{role} {name!r}", lambda: tree.get((group, name, role)))

    def key(self, keysym, alt=False):
        if alt:
            self.at.Registry.generateKeyboardEvent(8, None, self.at.KEY_LOCKMODIFIERS)  # Mod1: Alt
        self.at.Registry.generateKeyboardEvent(keysym, None, self.at.KEY_SYM)
        if alt:
            self.at.Registry.generateKeyboardEvent(8, None, self.at.KEY_UNLOCKMODIFIERS)

    def activate(self, main, tree, dialog=None):
        """Once `dialog` has gone: without a window manager a window becomes active when
        clicked (on the version label), and may need a second click after a dialog."""
        if dialog is not None:
            until("the dialog closed", lambda: not dialog.getState().contains(self.at.STATE_SHOWING))
        version = next(o for k, o in tree.items() if k[1].startswith("Version"))
        box = version.queryComponent().getExtents(self.at.DESKTOP_COORDS)

        def active():
            if not main.getState().contains(self.at.STATE_ACTIVE):
                self.at.Registry.generateMouseEvent(box.x + 2, box.y + 2, "b1c")
                time.sleep(0.5)
            return main.getState().contains(self.at.STATE_ACTIVE)
        until("the window active", active)

    def menu(self, tree, menu, item):
        """A menu item by the keys the menu bar underlines: Alt and the menu's letter, then the item's."""
        self.key(ord(menu[0].lower()), alt=True)
        popup = tree[("", menu, "menu item")][0]
        until(f"menu {menu!r} open", lambda: popup.getState().contains(self.at.STATE_SHOWING))
        self.key(ord(item[0].lower()))

    def press(self, o, name="Press"):
        """The action a screen reader offers on `o`."""
        action = o.queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index(name))

    def toggle(self, o):
        """Tab until `o` has the focus, then Space."""
        for _ in range(60):
            if o.getState().contains(self.at.STATE_FOCUSED):
                return self.key(ord(" "))
            self.key(0xFF09)  # Tab
            time.sleep(0.2)
        raise TimeoutError(f"Tab reaching {o.name!r}")

    def tab_cycle(self, step, tree):
        """Tab until the focus comes back where it started: who got it, in order."""
        focusable = [(k, o) for k, o in tree.items() if o.getState().contains(self.at.STATE_FOCUSABLE)]

        def focused():
            return next((k for k, o in focusable if o.getState().contains(self.at.STATE_FOCUSED)), None)

        cycle = [until(f"{step}: a focused control", focused)]
        while len(cycle) < 60:
            self.key(0xFF09)  # Tab
            current = until(f"{step}: Tab moving on from {cycle[-1]}", lambda: (f := focused()) != cycle[-1] and f)
            if current == cycle[0]:
                break
            cycle.append(current)
        self.cycles[step] = cycle
        self.unselected[step] = {k for k in cycle if k[2] == "radio button"
                                 and not tree[k].getState().contains(self.at.STATE_CHECKED)}

    def transfer(self, tree):
        """The transfer bar while download 1 drips in: named, with a value inside its range."""
        bar = tree[("Status", "Transfer progress", "progress bar")]
        value = until("the transfer bar", lambda: bar.getState().contains(self.at.STATE_SHOWING) and bar.queryValue())
        seen = until("a transfer under way", lambda: value.currentValue > 0 and value.currentValue)
        if not value.minimumValue <= seen <= value.maximumValue or value.maximumValue <= 0:
            self.fail(f"transfer bar at {seen} outside {value.minimumValue}..{value.maximumValue}")

    def check(self):
        windows = {"main": START, "proxy": PROXY, "about": ABOUT}
        for window, group, name, role, reached in CONTROLS:
            o = self.trees[windows[window]].get((group, name, role))
            if o is None:
                self.fail(f"{window}: no {role} {name!r} in {group!r}")
            elif reached not in (MENU, READ) and not o.getState().contains(self.at.STATE_FOCUSABLE):
                self.fail(f"{window}: {role} {name!r} cannot take the focus")
            if reached in (MENU, READ):
                continue
            cycle = self.cycles[reached]
            if role == "radio button":
                members = [k for k in cycle if k[0] == group and k[2] == role]
                if len(members) != 1 or members[0] in self.unselected[reached]:
                    self.fail(f"{reached}: Tab reaches {members} of group {group!r}, not its selected button")
            elif (group, name, role) not in cycle:
                self.fail(f"{reached}: Tab never reaches {role} {name!r}: {cycle}")
        rows = {(w, g, n, r) for w, g, n, r, _ in CONTROLS}
        for window, step in windows.items():
            for group, name, role in self.trees[step]:
                if role in INTERACTIVE and (window, group, name, role) not in rows:
                    self.fail(f"{window}: {role} {name!r} in {group!r} is in no row of the table")

    def run(self):
        main = self.window("frame")
        tree = self.read(START, main)
        self.activate(main, tree)
        self.tab_cycle(START, tree)

        # What Process Data needs: Space on the list ticks its first item, the full
        # catalogue; the situation report's "Yes" by its action.
        catalogues = tree[("Current Catalog Files", "Current Catalog Files", "list")]
        self.toggle(catalogues)
        full = next(item for item in catalogues if item.name == "Full Catalog")
        until("Full Catalog ticked", lambda: full.getState().contains(self.at.STATE_CHECKED))
        self.press(tree[("Space Situation Report", "Yes", "radio button")], "Toggle")
        self.press(tree[("Processing", "Download Data", "push button")])
        self.transfer(tree)
        process = tree[("Processing", "Process Data", "push button")]
        until("Process Data enabled by the download", lambda: process.getState().contains(self.at.STATE_ENABLED))
        self.tab_cycle(DOWNLOADED, tree)

        self.toggle(tree[("Processing", "Auto Download", "check box")])
        question = self.window("dialog", "alert")  # "Create shortcut in Startup folder?"
        self.press(self.find(self.read("question", question), "", "No", "push button"))
        self.activate(main, tree, question)
        self.tab_cycle(AUTO, tree)

        self.menu(tree, "Help", "About")
        about = self.window("dialog")
        self.tab_cycle(ABOUT, self.read(ABOUT, about))
        self.key(0xFF1B)  # Escape
        self.activate(main, tree, about)

        # Last: with authentication ticked and no credentials, the form would come back
        # whenever the window is activated.
        self.menu(tree, "Configuration", "Proxy Server")
        proxy = self.read(PROXY, self.window("dialog"))
        for box in ("Use Proxy", "Use Authentication"):
            self.toggle(proxy[("", box, "check box")])
        self.tab_cycle(PROXY, proxy)
        self.check()


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="a11y-") as runtime:
        log = open("session.log", "w")
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        xvfb, display = first_line(["Xvfb", "-nolisten", "tcp", "-screen", "0", "1280x1024x24", "-displayfd", "{fd}"],
                                   env, log)
        env["DISPLAY"] = ":" + display
        bus, address = first_line(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                   f"--address=unix:path={runtime}/bus", "--print-address={fd}"], env, log)
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        app = start([program], dict(env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"),
                    open("program.log", "w"))
        try:
            os.environ.update(env)
            import pyatspi  # finds the accessibility bus through the session bus just made

            desktop = pyatspi.Registry.getDesktop(0)
            walk = Walk(pyatspi, until("the program on the accessibility bus", lambda: next(
                (a for a in desktop if a is not None and a.name == TITLE), None)))
            try:
                walk.run()
            except TimeoutError as stuck:
                windows = [(w.getRoleName(), w.name, [pyatspi.stateToString(s) for s in w.getState().getStates()])
                           for w in walk.app if w is not None]
                walk.fail(f"gave up waiting for {stuck} after {WAIT} s; windows: {windows}")
        finally:
            app.terminate()
            app.wait(WAIT)
            for server in (bus, xvfb):
                os.killpg(server.pid, signal.SIGTERM)
                server.wait(WAIT)
    for failure in walk.failures:
        print(failure)
    print(f"{len(CONTROLS)} controls, {len(walk.failures)} failures")
    return 1 if walk.failures else 0


if __name__ == "__main__":
    sys.exit(main())
