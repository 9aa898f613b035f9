#!/usr/bin/env python3
"""Desktop end-to-end test: the real Quillmark under its own Xvfb display with trayer as the tray host,
driven with xdotool like a user would, looked at with xwininfo and screenshots.

    app_desktop_e2e.py QUILLMARK SCREENSHOT_DIR [--print-run SCRIPTS_DIR] [--docs-screenshot PNG]

QUILLMARK is the built program; every start runs a copy of it in a temporary folder, so the settings file
and the instance guard meet nothing of the build. With --print-run, one whole print run goes through the
real folder dialog, the real LibreOffice and the private print server of SCRIPTS_DIR/printserver.sh.
Exit code 0 when every check passed, 1 otherwise, 77 when a needed tool is missing.
"""

import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

SCREEN_W, SCREEN_H = 1280, 1024
TITLE = "澄笺2.0"
WINDOW_SIZE = (940, 400)
# Centred for the form's built 940 x 500; without a window manager X places it exactly there.
WINDOW_POS = ((SCREEN_W - 940) // 2, (SCREEN_H - 500) // 2)
TOOLS = ["Xvfb", "trayer", "xdotool", "xwininfo", "import", "convert"]


class Failure(Exception):
    pass


def die_with_us():
    """In the child before exec: end it when this test process goes, however it goes."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def poll(what, probe, timeout=15.0, interval=0.05):
    """Returns probe()'s first true value; raises Failure(what) after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval)


def stays(what, probe, duration):
    """Checks that probe() stays false for duration seconds."""
    deadline = time.monotonic() + duration
    while time.monotonic() < deadline:
        if probe():
            raise Failure(what)
        time.sleep(0.05)


class Desktop:
    """An Xvfb display with a tray host (unless tray is false), and every process started on it; all ended
    on close()."""

    def __init__(self, workdir, tray=True, name="desktop"):
        self.workdir = workdir
        self.tray = tray
        self.name = name
        self.processes = []
        self.xvfb = None
        self.display = None

    def start(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=open(self.log(self.name + "-xvfb"), "w"),
            preexec_fn=die_with_us)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise Failure("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ)
        self.env.update(DISPLAY=self.display, LANG="C.UTF-8", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="xcb")
        # Without a session bus Qt uses the XEmbed tray that trayer hosts.
        for name in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORMTHEME", "XAUTHORITY"):
            self.env.pop(name, None)
        poll("the X display", lambda: self.x(["xwininfo", "-root"], check=False) is not None)
        if self.tray:
            self.start_tray()

    def start_tray(self):
        self.trayer = self.spawn(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                                  "--height", "32", "--SetDockType", "false", "--transparent", "false"],
                                 "trayer")
        poll("trayer's panel", lambda: any(w["name"] == "panel" for w in self.top_windows()))

    def log(self, name):
        return os.path.join(self.workdir, name + ".log")

    def spawn(self, argv, logname, env=None, cwd=None):
        process = subprocess.Popen(argv, env=env or self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=open(self.log(logname), "a"), stderr=subprocess.STDOUT,
                                   preexec_fn=die_with_us)
        self.processes.append(process)
        return process

    def x(self, argv, check=True):
        """Runs an X client on the display; its output, or None when it failed and check is false."""
        result = subprocess.run(argv, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=20)
        if result.returncode != 0:
            if check:
                raise Failure("%s failed: %s" % (" ".join(argv), result.stderr.decode(errors="replace")))
            return None
        return result.stdout.decode(errors="replace")

    def top_windows(self):
        """The root's children, topmost first, as xwininfo lists them."""
        out = self.x(["xwininfo", "-root", "-children"], check=False) or ""
        windows = []
        for line in out.splitlines():
            m = re.match(r'\s+(0x[0-9a-f]+) (?:"(.*?)":|\(has no name\)).*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s', line)
            if m:
                windows.append({"id": int(m.group(1), 16), "name": m.group(2) or "",
                                "w": int(m.group(3)), "h": int(m.group(4))})
        return windows

    def info(self, window):
        out = self.x(["xwininfo", "-id", str(window)], check=False)
        if out is None:
            return None
        def field(label):
            m = re.search(r"^\s*" + re.escape(label) + r":\s*(-?\d+)", out, re.M)
            return int(m.group(1))
        m = re.search(r'xwininfo: Window id: 0x[0-9a-f]+ "(.*)"', out)
        return {"id": window, "name": m.group(1) if m else "",
                "x": field("Absolute upper-left X"), "y": field("Absolute upper-left Y"),
                "w": field("Width"), "h": field("Height"),
                "viewable": "IsViewable" in out}

    def visible_windows(self, pid):
        out = self.x(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], check=False) or ""
        windows = [self.info(int(w)) for w in out.split()]
        return [w for w in windows if w and w["viewable"]]

    def send_close(self, window):
        """Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW), which
        xdotool cannot do here."""
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                        ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                        ("data", ctypes.c_long * 5)]

        class XEvent(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(XEvent)]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = x11.XOpenDisplay(self.display.encode())
        if not display:
            raise Failure("cannot open %s" % self.display)
        event = XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
        x11.XCloseDisplay(display)

    def click(self, x, y, button=1):
        # No --sync: it waits for a motion that never comes when the pointer is already there.
        self.x(["xdotool", "mousemove", str(x), str(y), "sleep", "0.1", "click", str(button)])

    def screenshot(self, path, window=None, crop=None):
        """A picture of the screen or of one window; crop is (width, height, x, y) of the screen."""
        argv = ["import", "-display", self.display, "-window", "root" if window is None else str(window)]
        subprocess.run(argv + [path], check=True, timeout=30, env=self.env)
        if crop:
            subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % crop, "+repage", path], check=True,
                           timeout=30)

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
        for process in reversed(self.processes):
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()


class App:
    """One start of the program (a copy under a chosen file name in a folder of its own)."""

    def __init__(self, desktop, exe, args=(), env=None):
        self.desktop = desktop
        self.exe = exe
        self.process = desktop.spawn([exe] + list(args), os.path.basename(os.path.dirname(exe)), env=env,
                                     cwd=os.path.dirname(exe))
        self.pid = self.process.pid

    def alive(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=15):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s (pid %d) did not end" % (self.exe, self.pid))

    def main_window(self):
        for w in self.desktop.visible_windows(self.pid):
            if w["name"] == TITLE:
                return w
        return None

    def tray_icon(self):
        # The icon trayer embeds: a small window of ours inside the panel at the bottom edge.
        for w in self.desktop.visible_windows(self.pid):
            if w["name"] != TITLE and w["w"] <= 64 and w["h"] <= 64 and w["y"] >= SCREEN_H - 64:
                return w
        return None

    def popup(self):
        icon = self.tray_icon()
        for w in self.desktop.visible_windows(self.pid):
            if w["name"] != TITLE and (not icon or w["id"] != icon["id"]) and w["w"] > 64:
                return w
        return None

    def click_tray(self, button):
        icon = poll("the tray icon of pid %d" % self.pid, self.tray_icon)
        self.desktop.click(icon["x"] + icon["w"] // 2, icon["y"] + icon["h"] // 2, button)


def check(condition, message):
    if not condition:
        raise Failure(message)


def place_copy(root, folder, name, source):
    path = os.path.join(root, folder)
    os.makedirs(path, exist_ok=True)
    exe = os.path.join(path, name)
    shutil.copy2(source, exe)
    return exe


def stacking_index(desktop, window_id):
    ids = [w["id"] for w in desktop.top_windows()]
    return ids.index(window_id) if window_id in ids else None


def test_shell(desktop, source, root, shots):
    """Tray, window placement, restore, menu, instance guard and clean exits."""
    quillmark = place_copy(root, "app", "Quillmark", source)
    other = place_copy(root, "copy", "Other", source)

    # Autorun: only the tray icon.
    a = App(desktop, quillmark, ["-autorun"])
    poll("the tray icon after -autorun", a.tray_icon)
    stays("the window was shown although started with -autorun", a.main_window, 1.5)
    print("ok - '-autorun' shows only the tray icon")

    # Right click: the menu, not the window.
    a.click_tray(3)
    menu = poll("the tray menu", a.popup)
    desktop.screenshot(os.path.join(shots, "tray-menu.png"),
                       crop=(menu["w"] + 80, SCREEN_H - menu["y"] + 20, menu["x"] - 60, menu["y"] - 20))
    stays("a right click showed the window", a.main_window, 0.7)
    desktop.x(["xdotool", "key", "Escape"])
    poll("the menu to close", lambda: a.popup() is None, timeout=5)
    check(a.main_window() is None, "closing the menu showed the window")
    print("ok - a right click opens the tray menu and does not show the window")

    # Left click: the window, 940 x 400, centred for the built 940 x 500.
    a.click_tray(1)
    window = poll("the window after a left click on the tray icon", a.main_window)
    check((window["w"], window["h"]) == WINDOW_SIZE, "window size %dx%d" % (window["w"], window["h"]))
    check((window["x"], window["y"]) == WINDOW_POS,
          "window at %d,%d, expected %d,%d" % ((window["x"], window["y"]) + WINDOW_POS))
    time.sleep(0.3)  # let the first paint finish before the picture
    desktop.screenshot(os.path.join(shots, "window.png"), window=window["id"])
    desktop.screenshot(os.path.join(shots, "desktop.png"))
    print("ok - a left click shows the window at %d,%d, 940x400" % WINDOW_POS)

    # A copy under another name neither ends this instance nor is ended later; its window covers ours.
    desktop.x(["xdotool", "windowsize", "--sync", str(window["id"]), "500", "300"])
    poll("the resize to 500x300", lambda: (a.main_window() or {}).get("w") == 500)
    b = App(desktop, other)
    b_window = poll("the window of the renamed copy", b.main_window)
    check(a.alive(), "starting a renamed copy ended the running instance")
    check(stacking_index(desktop, b_window["id"]) < stacking_index(desktop, window["id"]),
          "the renamed copy's window did not open above ours")
    a.click_tray(1)
    poll("the window back at 940x400",
         lambda: (lambda w: w and (w["w"], w["h"]) == WINDOW_SIZE)(a.main_window()))
    poll("our window raised above the other one",
         lambda: stacking_index(desktop, window["id"]) < stacking_index(desktop, b_window["id"]), timeout=5)
    print("ok - a left click restores a resized window to 940x400 and raises it")

    # A second start ends the first (exit code 0) and shows its own window; "-autorun" in second place
    # does not hide it. The renamed copy is not touched.
    c = App(desktop, quillmark, ["--other", "-autorun"])
    code = a.wait_exit()
    check(code == 0, "the first instance ended with exit code %s" % code)
    c_window = poll("the second instance's window", c.main_window)
    check((c_window["x"], c_window["y"], c_window["w"], c_window["h"]) == WINDOW_POS + WINDOW_SIZE,
          "a normal start placed the window at %(x)d,%(y)d, %(w)dx%(h)d" % c_window)
    check(b.alive(), "the instance guard ended a copy under another name")
    print("ok - a second start ends the first (exit code 0) and shows its own window")
    print("ok - '-autorun' in second place shows the window; a renamed copy is never matched")

    # SIGTERM ends cleanly.
    b.process.send_signal(signal.SIGTERM)
    code = b.wait_exit()
    check(code == 0, "SIGTERM gave exit code %s" % code)
    print("ok - SIGTERM ends the program with exit code 0")

    # "退出程序" from the menu ends the program with exit code 0, with the window shown ...
    quit_from_menu(c)
    print("ok - '退出程序' ends the program with exit code 0")

    f = App(desktop, quillmark)
    poll("the window", f.main_window)
    f.process.send_signal(signal.SIGINT)
    code = f.wait_exit()
    check(code == 0, "SIGINT gave exit code %s" % code)
    print("ok - SIGINT ends the program with exit code 0")

    # ... and with it hidden, without ever showing it.
    e = App(desktop, quillmark, ["-autorun"])
    poll("the tray icon", e.tray_icon)
    quit_from_menu(e)
    print("ok - '退出程序' while hidden ends the program without showing the window")


def test_without_tray(desktop, source, root, shots):
    """A desktop without a tray host (stock GNOME): an autorun start must not leave the program
    unreachable, and closing its window ends it. A tray host that comes up soon after keeps it hidden."""
    quillmark = place_copy(root, "notray", "Quillmark", source)

    started = time.monotonic()
    a = App(desktop, quillmark, ["-autorun"])
    window = poll("the window of an autorun start without a tray host", a.main_window, timeout=20)
    waited = time.monotonic() - started
    check(waited >= 3.0, "shown after %.1f s: it did not wait for a tray host to come up" % waited)
    check((window["w"], window["h"]) == WINDOW_SIZE, "window size %dx%d" % (window["w"], window["h"]))
    check((window["x"], window["y"]) == WINDOW_POS, "window at %d,%d" % (window["x"], window["y"]))
    check(a.tray_icon() is None, "a tray icon without a tray host")
    desktop.screenshot(os.path.join(shots, "without-tray.png"))
    print("ok - without a tray host '-autorun' shows the window after %.1f s" % waited)

    desktop.send_close(window["id"])
    code = a.wait_exit()
    check(code == 0, "closing the window gave exit code %s" % code)
    print("ok - without a tray host closing the window ends the program (exit code 0)")

    # The tray host comes up a second after the program: the program waits for it and stays hidden.
    b = App(desktop, quillmark, ["-autorun"])
    time.sleep(1.0)
    desktop.start_tray()
    poll("the tray icon once the tray host is up", b.tray_icon, timeout=20)
    stays("the window was shown although a tray host came up", b.main_window, 6.0)
    quit_from_menu(b)
    print("ok - a tray host coming up a second late keeps an autorun start hidden")


def quit_from_menu(app):
    shown_before = app.main_window() is not None
    app.click_tray(3)
    menu = poll("the tray menu", app.popup)
    # Two entries of equal height: "软件设置" above "退出程序".
    app.desktop.click(menu["x"] + menu["w"] // 2, menu["y"] + menu["h"] * 3 // 4)
    code = app.wait_exit()
    check(code == 0, "'退出程序' gave exit code %s" % code)
    if not shown_before:
        check(app.main_window() is None, "the window was shown")


def office_processes(tag):
    """Processes other than the program itself that carry the tag in their environment."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("QUILLMARK_E2E_TAG=" + tag).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % pid) as f:
                name = f.read().strip()
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if name != "Quillmark" and state != "Z":
            found.append("%s %s" % (pid, name))
    return found


def make_docx(path, text):
    """A minimal but complete Word document with one paragraph."""
    content_types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                     '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                     '<Default Extension="xml" ContentType="application/xml"/>'
                     '<Override PartName="/word/document.xml" ContentType="application/'
                     'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
            'relationships/officeDocument" Target="word/document.xml"/></Relationships>')
    document = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                '<w:body><w:p><w:r><w:t>%s</w:t></w:r></w:p></w:body></w:document>' % text)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", content_types)
        z.writestr("_rels/.rels", rels)
        z.writestr("word/document.xml", document)


def test_print_run(desktop, source, root, shots, scripts):
    """One whole run: folder through the real dialog, "全部打印", LibreOffice, the private print server."""
    printserver = os.path.join(scripts, "printserver.sh")
    spool = tempfile.mkdtemp(prefix="qm-cups-")
    os.chmod(spool, 0o755)  # filters run as lp
    captured = os.path.join(spool, "out")
    os.makedirs(captured)
    os.chmod(captured, 0o777)
    docs = os.path.join(root, "docs")
    os.makedirs(os.path.join(docs, "sub"))
    expected = ["first page alpha", "second page bravo", "third page charlie"]
    make_docx(os.path.join(docs, "a.docx"), expected[0])
    make_docx(os.path.join(docs, "b.docx"), expected[1])
    make_docx(os.path.join(docs, "sub", "c.docx"), expected[2])
    with open(os.path.join(docs, "notes.txt"), "w") as f:
        f.write("not a document\n")
    with open(os.path.join(docs, "broken.docx"), "wb") as f:
        f.write(b"this is no zip file")

    started = subprocess.run([printserver, "start", spool, captured], stdout=subprocess.PIPE, timeout=60)
    try:
        check(started.returncode == 0, "the private print server did not start")
        m = re.search(r"CUPS_SERVER=(\S+)", started.stdout.decode())
        check(m is not None, "printserver.sh printed no CUPS_SERVER")
        env = dict(desktop.env)
        env["CUPS_SERVER"] = m.group(1).strip("'\"")
        env.pop("PRINTER", None)
        env.pop("LPDEST", None)
        env["HOME"] = os.path.join(root, "home")  # no ~/.cups/lpoptions of the machine's user
        # Inherited by every process the program starts, so that leftovers can be found.
        tag = "quillmark-e2e-%d-%d" % (os.getpid(), time.monotonic_ns())
        env["QUILLMARK_E2E_TAG"] = tag
        os.makedirs(env["HOME"], exist_ok=True)

        quillmark = place_copy(root, "printing", "Quillmark", source)
        app = App(desktop, quillmark, env=env)
        window = poll("the window", app.main_window)
        wx, wy = window["x"], window["y"]
        # The form's folder button (left end of the first row) and print button (right end), and the delay
        # box, where the layout puts them in a 940 x 400 window with the desktop's default font.
        desktop.click(wx + 24, wy + 85)
        dialog = poll("the folder dialog",
                      lambda: next((w for w in desktop.visible_windows(app.pid) if w["name"] == "选择文件夹"), None))
        desktop.screenshot(os.path.join(shots, "folder-dialog.png"), window=dialog["id"])
        # The dialog's file name field has the focus: type the folder and confirm, as a user would.
        desktop.x(["xdotool", "type", "--delay", "20", docs])
        desktop.x(["xdotool", "key", "Return"])
        # A completion list may take the first Return; a second one confirms the dialog.
        try:
            poll("the folder dialog to close", lambda: not any(
                w["name"] == "选择文件夹" for w in desktop.visible_windows(app.pid)), timeout=3)
        except Failure:
            desktop.x(["xdotool", "key", "Return"])
            poll("the folder dialog to close", lambda: not any(
                w["name"] == "选择文件夹" for w in desktop.visible_windows(app.pid)), timeout=5)
        time.sleep(0.3)
        desktop.click(wx + 905, wy + 85)

        settings = os.path.join(os.path.dirname(quillmark), "Quillmark.kov")
        poll("the settings file to name the folder", lambda: os.path.exists(settings) and
             open(settings, "rb").read() == ("sourcePath=%s/\r\n" % docs).encode(), timeout=10)
        poll("three captured print jobs", lambda: len([n for n in os.listdir(captured)
                                                      if n.endswith(".pdf")]) >= 3, timeout=120)
        subprocess.run([printserver, "wait", spool, "60"], timeout=90)
        failure_list = os.path.join(docs, "无法设置或修改密码的文件目录.txt")
        poll("the failure list", lambda: os.path.exists(failure_list), timeout=30)
        with open(failure_list, "rb") as f:
            listed = f.read().decode()
        check(listed.strip() == os.path.join(docs, "broken.docx"), "failure list holds %r" % listed)
        pdfs = sorted(n for n in os.listdir(captured) if n.endswith(".pdf"))
        check(len(pdfs) == 3, "captured %d jobs: %s" % (len(pdfs), pdfs))
        texts = [subprocess.run(["pdftotext", os.path.join(captured, n), "-"], stdout=subprocess.PIPE,
                                timeout=30).stdout.decode().strip() for n in pdfs]
        check(texts == expected, "printed %r" % texts)
        time.sleep(0.5)
        desktop.screenshot(os.path.join(shots, "print-run.png"), window=window["id"])
        print("ok - a whole run through the folder dialog prints 3 documents in order and lists the broken one")
        print("   (label after the run: see %s)" % os.path.join(shots, "print-run.png"))

        # Ending the program in the middle of a run: a long pause after the first document, then SIGTERM.
        desktop.click(wx + 440, wy + 132)
        desktop.x(["xdotool", "key", "ctrl+a"])
        desktop.x(["xdotool", "type", "120000"])
        desktop.click(wx + 905, wy + 85)
        poll("the failure list of the last run to go", lambda: not os.path.exists(failure_list), timeout=10)
        poll("the first document of the second run", lambda: len([n for n in os.listdir(captured)
                                                                 if n.endswith(".pdf")]) >= 4, timeout=60)
        check(office_processes(tag), "no office process of the program was found while it prints")
        app.process.send_signal(signal.SIGTERM)
        # Half the pause: a program that sat it out is still running.
        code = app.wait_exit(timeout=60)
        check(code == 0, "exit code %s when ended during a run" % code)
        poll("every process of the program to end", lambda: not office_processes(tag), timeout=10)
        subprocess.run([printserver, "wait", spool, "30"], timeout=60)
        count = len([n for n in os.listdir(captured) if n.endswith(".pdf")])
        check(count == 4, "%d jobs after the cut-off run, expected 4" % count)
        print("ok - SIGTERM during a run's pause ends the program at once (exit code 0), no office left behind")
    finally:
        subprocess.run([printserver, "stop", spool], timeout=60)
        shutil.rmtree(spool, ignore_errors=True)


def main():
    # ctest's time-out and Ctrl+C end the test through the same clean-up as a failure.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser()
    parser.add_argument("quillmark")
    parser.add_argument("screenshots")
    parser.add_argument("--print-run", metavar="SCRIPTS_DIR")
    parser.add_argument("--docs-screenshot", metavar="PNG")
    args = parser.parse_args()

    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    os.makedirs(args.screenshots, exist_ok=True)
    root = tempfile.mkdtemp(prefix="qm-desktop-")
    desktop = Desktop(root)
    bare = Desktop(root, tray=False, name="bare")
    failed = False
    try:
        desktop.start()
        bare.start()
        print("display %s, screen %dx%d; %s without a tray host" % (desktop.display, SCREEN_W, SCREEN_H,
                                                                    bare.display))
        tests = [("shell", lambda: test_shell(desktop, args.quillmark, root, args.screenshots))]
        if args.print_run:
            tests.append(("print run", lambda: test_print_run(desktop, args.quillmark, root, args.screenshots,
                                                              args.print_run)))
        for name, test in tests:
            try:
                test()
            except Failure as error:
                failed = True
                print("FAIL - %s: %s" % (name, error))
                desktop.screenshot(os.path.join(args.screenshots, "failure-%s.png" % name.replace(" ", "-")))
        try:
            test_without_tray(bare, args.quillmark, root, args.screenshots)
        except Failure as error:
            failed = True
            print("FAIL - without tray: %s" % error)
            bare.screenshot(os.path.join(args.screenshots, "failure-without-tray.png"))
        if args.docs_screenshot and not failed:
            shutil.copyfile(os.path.join(args.screenshots, "window.png"), args.docs_screenshot)
    except Failure as error:
        failed = True
        print("FAIL - %s" % error)
    finally:
        bare.close()
        desktop.close()
        if failed:
            for name in sorted(os.listdir(root)):
                if name.endswith(".log"):
                    print("--- %s" % name)
                    print(open(os.path.join(root, name), errors="replace").read()[-3000:])
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
