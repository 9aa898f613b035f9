#!/usr/bin/env python3
"""The Windows package as a user meets it: unpacked into a fresh folder with a Chinese name in a fresh Wine
prefix (code page 936), started from there on an Xvfb display with trayer as the tray host.

    windows_desktop_e2e.py ZIP WININFO SCREENSHOT_DIR WORK_DIR

ZIP is dist/Quillmark-<version>-win32.zip; WININFO the windows_wininfo helper (what Windows knows of a
window); screenshots go to SCREENSHOT_DIR; the prefix is made under WORK_DIR and removed at the end.
Checks: the window and the tray icon after a start, -autorun, the settings file's bytes, the second start,
quillmark-print.exe's exit codes and texts where no word processor is needed.
Exit code 0 when every check passed, 1 otherwise, 77 when a needed tool is missing.
"""

import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
from app_desktop_e2e import SCREEN_H, SCREEN_W, Desktop, Failure, check, poll, stays  # noqa: E402

TITLE = "澄笺2.0"
# A folder with a space and Chinese characters, as Chinese users name them.
INSTALL = "澄笺 测试"
TOOLS = ["Xvfb", "trayer", "xdotool", "xwininfo", "import", "convert", "wine", "wineboot", "wineserver"]
NO_WORD_PROCESSOR = "未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。"


class Wine:
    """A fresh 32-bit prefix bound to one desktop; every Windows process of it ends with close()."""

    def __init__(self, desktop, workdir, wininfo):
        self.desktop = desktop
        self.prefix = os.path.join(workdir, "prefix")
        self.wininfo = wininfo
        self.env = dict(desktop.env)
        self.env.update(WINEPREFIX=self.prefix, WINEARCH="win32", WINEDEBUG="-all", LANG="zh_CN.UTF-8",
                        LC_ALL="zh_CN.UTF-8")
        # Nothing of the build may help the package: no DLL path, no proxy between it and loopback.
        for name in ("WINEPATH", "WINEDLLPATH", "WINEDLLOVERRIDES", "http_proxy", "https_proxy",
                     "HTTP_PROXY", "no_proxy", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)

    def boot(self):
        # Gecko and Mono are not needed and would be offered for download.
        env = dict(self.env, WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=180, check=True)

    def c_drive(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def start(self, windows_path, args=(), logname="program"):
        return self.desktop.spawn(["wine", windows_path] + list(args), logname, env=self.env)

    def run(self, windows_path, args=(), timeout=120, stdin=subprocess.DEVNULL):
        return subprocess.run(["wine", windows_path] + list(args), env=self.env, stdin=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def window(self):
        """What Windows knows of the program's window: None when there is none."""
        result = subprocess.run(["wine", self.wininfo, TITLE], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=60)
        info = {}
        for line in result.stdout.decode(errors="replace").splitlines():
            key, _, value = line.partition(" ")
            info[key] = [int(v) for v in value.split()] if value else []
        if result.returncode == 1 and "work" in info:
            return None
        if result.returncode != 0:
            raise Failure("windows_wininfo failed (%d)" % result.returncode)
        return info

    def visible_window(self):
        info = self.window()
        return info if info and info["visible"] == [1] else None

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def tray_icon_places(desktop):
    """The centres of the icons docked in trayer's panel: Wine docks each as a window of its explorer."""
    out = desktop.x(["xwininfo", "-root", "-tree"], check=False) or ""
    places, panel_indent = [], None
    for line in out.splitlines():
        indent = len(line) - len(line.lstrip())
        if '"panel": ("panel" "trayer")' in line:
            panel_indent = indent
        elif panel_indent is not None and indent <= panel_indent and line.strip():
            panel_indent = None
        elif panel_indent is not None and '("explorer.exe" "explorer.exe")' in line:
            size, origin = line.split()[-2], line.split()[-1]
            w, h = (int(v) for v in size.split("+")[0].split("x"))
            x, y = (int(v) for v in origin.lstrip("+").split("+"))
            places.append((x + w // 2, y + h // 2))
    return places


def tray_icons(desktop):
    return len(tray_icon_places(desktop))


def screenshot_window(desktop, info, path):
    left, top, right, bottom = info["window"]
    desktop.screenshot(path, crop=(right - left, bottom - top, left, top))


def x_window_of(desktop):
    out = desktop.x(["xdotool", "search", "--onlyvisible", "--name", "^" + TITLE + "$"], check=False) or ""
    ids = out.split()
    return int(ids[0]) if ids else None


def wait_exit(process, what, timeout=20):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure(what + " did not end")


def unpack(zip_path, target):
    """Unpacks the package; returns the folder holding Quillmark.exe (the zip's single top folder)."""
    os.makedirs(target)
    with zipfile.ZipFile(zip_path) as z:
        names = z.namelist()
        tops = {n.split("/")[0] for n in names}
        check(len(tops) == 1, "the package has more than one top folder: %s" % sorted(tops))
        check(not any(n.lower().endswith((".pdb", ".debug", ".a", ".lib")) for n in names),
              "debug or build files in the package")
        z.extractall(target)
    return os.path.join(target, tops.pop())


def test_window(desktop, wine, app_dir, win_dir, shots):
    """A start shows the window centred in the work area at 940 x 400 and the icon in the tray; a click on
    "全部打印" stores the folder in the settings file in code page 936, byte for byte."""
    # A settings file from an earlier run: a Chinese folder that exists, and a line of something else.
    folder = "C:/打印 文档/"
    os.makedirs(wine.c_drive("打印 文档"))
    kov = os.path.join(app_dir, "Quillmark.kov")
    with open(kov, "wb") as f:
        f.write(b"  other=1\r\nsourcePath=" + folder.encode("gbk") + b"\r\n")

    icons_before = tray_icons(desktop)
    program = wine.start(win_dir + "\\Quillmark.exe", logname="first")
    info = poll("the window", wine.visible_window, timeout=60)
    left, top, right, bottom = info["window"]
    wl, wt, wr, wb = info["work"]
    check(info["client"] == [940, 400], "client area %s, expected 940x400" % info["client"])
    # Centred for the form's built 940 x 500 in the work area; Qt places the frame there.
    expected = (wl + (wr - wl - 940) // 2, wt + (wb - wt - 500) // 2)
    check((left, top) == expected, "window frame at %d,%d, expected %d,%d" % ((left, top) + expected))
    poll("the tray icon", lambda: tray_icons(desktop) > icons_before, timeout=20)
    time.sleep(0.5)  # the first paint
    screenshot_window(desktop, info, os.path.join(shots, "windows-window.png"))
    desktop.screenshot(os.path.join(shots, "windows-desktop.png"))
    print("ok - the window at %d,%d (work area %dx%d), client 940x400, icon in the tray"
          % (left, top, wr - wl, wb - wt))

    # "全部打印": the button's place in the form (client coordinates), from the form's layout.
    client_x = left + ((right - left) - 940) // 2
    client_y = bottom - 400 - ((right - left) - 940) // 2
    desktop.click(client_x + 886, client_y + 76)
    expected_kov = b"other=1\r\nsourcePath=" + folder.encode("gbk") + b"\r\n"
    poll("the settings file to be written", lambda: open(kov, "rb").read() != b"  other=1\r\nsourcePath="
         + folder.encode("gbk") + b"\r\n", timeout=20)
    data = open(kov, "rb").read()
    check(data == expected_kov, "settings file %r, expected %r" % (data, expected_kov))
    # The run finds no word processor and says so in the label below the form: its empty place turns
    # from plain white into text.
    label_png = os.path.join(desktop.workdir, "label.png")

    def label_shows_text():
        desktop.screenshot(label_png, crop=(920, 60, client_x + 8, client_y + 300))
        colours = subprocess.run(["convert", label_png, "-format", "%k", "info:"], stdout=subprocess.PIPE,
                                 check=True, timeout=30).stdout
        return int(colours) > 1

    poll("the label's text after the run", label_shows_text, timeout=40, interval=0.5)
    time.sleep(0.3)
    screenshot_window(desktop, wine.visible_window() or info, os.path.join(shots, "windows-no-word-processor.png"))
    print("ok - Quillmark.kov beside the executable in code page 936: %r" % data)
    return program


def test_second_start(desktop, wine, win_dir, first):
    """A second start ends the first; then the window closes like any window and the program ends."""
    before = wine.visible_window()
    second = wine.start(win_dir + "\\Quillmark.exe", logname="second")
    wait_exit(first, "the first instance after a second start")
    info = poll("the second instance's window", wine.visible_window, timeout=60)
    check(info["process"] != before["process"], "the window is still the first instance's")
    print("ok - a second start ended the first (process %d), its own window is shown" % before["process"][0])

    window = poll("the X window", lambda: x_window_of(desktop), timeout=10)
    desktop.send_close(window)
    code = wait_exit(second, "the program after its window was closed")
    check(code == 0, "exit code %d after closing the window" % code)
    poll("the tray icon to go", lambda: tray_icons(desktop) == 0, timeout=10)
    print("ok - closing the window ends the program (exit code 0) and removes the tray icon")


def test_autorun(desktop, wine, win_dir, shots):
    """-autorun: only the tray icon; a click on it shows the window."""
    program = wine.start(win_dir + "\\Quillmark.exe", ["-autorun"], logname="autorun")
    poll("the tray icon after -autorun", lambda: tray_icons(desktop) > 0, timeout=60)
    stays("the window was shown although started with -autorun", wine.visible_window, 2.0)
    print("ok - '-autorun' shows only the tray icon")
    places = tray_icon_places(desktop)
    check(len(places) == 1, "%d tray icons, expected one" % len(places))
    icon = places[0]
    desktop.click(*icon)
    info = poll("the window after a click on the tray icon", wine.visible_window, timeout=20)
    check(info["client"] == [940, 400], "client area %s after the tray click" % info["client"])
    print("ok - a click on the tray icon shows the window at 940x400")
    window = poll("the X window", lambda: x_window_of(desktop), timeout=10)
    desktop.send_close(window)
    wait_exit(program, "the program after -autorun")


def test_print_command(wine, win_dir):
    """quillmark-print.exe where no word processor is needed: its texts are in code page 936."""
    exe = win_dir + "\\quillmark-print.exe"

    def run(args, code, out_has=(), err_has=()):
        result = wine.run(exe, args)
        out = result.stdout.decode("gbk", errors="replace")
        err = result.stderr.decode("gbk", errors="replace")
        what = "quillmark-print %s" % " ".join(args)
        check(result.returncode == code, "%s: exit code %d, expected %d\n%s%s"
              % (what, result.returncode, code, out, err))
        for text in out_has:
            check(text in out, "%s: %r not in its output %r" % (what, text, out))
        for text in err_has:
            check(text in err, "%s: %r not in its errors %r" % (what, text, err))
        print("ok - %s: exit code %d" % (what, code))

    run(["--help"], 0, out_has=["用法：quillmark-print", "Usage: quillmark-print", "退出码"])
    run(["C:\\没有 这个文件夹"], 2, err_has=["文件夹不存在：C:\\没有 这个文件夹"])
    folder = wine.c_drive("待打印 文档")
    os.makedirs(os.path.join(folder, "子 文件夹"))
    open(os.path.join(folder, "子 文件夹", "报告.docx"), "wb").write(b"PK\x05\x06" + b"\0" * 18)
    run(["C:\\待打印 文档"], 2, out_has=["已打印 0 个文档，未能打印 0 个。"], err_has=[NO_WORD_PROCESSOR])
    run(["C:\\待打印 文档", "--printer", "某台打印机"], 2, err_has=["--printer", "默认打印机"])
    run(["C:\\待打印 文档", "--password", "x"], 2, err_has=["密码不能写在命令行上"])
    check(not os.path.exists(os.path.join(folder, "无法设置或修改密码的文件目录.txt")),
          "a failure list was written although nothing was tried")

    # --ask-password on a console (Wine makes one of a terminal): the prompt, nothing of the secret echoed,
    # and the run goes on with it.
    secret = "秘密pw"
    code, shown = run_on_console(wine, [exe, "C:\\待打印 文档", "--ask-password"], "文档密码：", secret)
    check("文档密码：" in shown, "no prompt on the console: %r" % shown)
    check(secret not in shown and "pw" not in shown.split("文档密码：", 1)[1],
          "the password was echoed: %r" % shown)
    check(code == 2, "exit code %d after the password, expected 2 (no word processor)" % code)
    print("ok - --ask-password: prompt on the console, the password not echoed, the run went on")


def run_on_console(wine, argv, prompt, typed, timeout=60):
    """Runs a program on a terminal of its own; types typed and Enter once prompt shows. Returns the exit
    code and what the terminal showed (without its control sequences)."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.execvpe("wine", ["wine"] + argv, wine.env)
        finally:
            os._exit(127)
    shown = b""
    typed_yet = False
    deadline = time.monotonic() + timeout
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
            text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown).decode("utf-8", errors="replace")
            if not typed_yet and prompt in text:
                time.sleep(0.5)
                os.write(fd, typed.encode() + b"\r")
                typed_yet = True
        else:
            os.kill(pid, 9)
            raise Failure("%s did not end on its console" % argv[0])
        _, status = os.waitpid(pid, 0)
    finally:
        os.close(fd)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown).decode("utf-8", errors="replace")
    return os.waitstatus_to_exitcode(status), text


def print_logs(workdir):
    """The end of every log the test's programs left in workdir, for a failure's report."""
    for name in sorted(os.listdir(workdir)):
        if name.endswith(".log"):
            print("--- %s" % name)
            print(open(os.path.join(workdir, name), errors="replace").read()[-3000:])


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    zip_path, wininfo, shots, work_base = sys.argv[1:]
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return 77
    os.makedirs(shots, exist_ok=True)
    os.makedirs(work_base, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="desktop-e2e.", dir=work_base)
    desktop = Desktop(workdir)
    wine = None
    try:
        desktop.start()
        wine = Wine(desktop, workdir, wininfo)
        wine.boot()
        app_dir = unpack(zip_path, wine.c_drive(INSTALL))
        win_dir = "C:\\" + INSTALL + "\\" + os.path.basename(app_dir)
        print("ok - package unpacked into a fresh prefix: %s" % win_dir)
        first = test_window(desktop, wine, app_dir, win_dir, shots)
        test_second_start(desktop, wine, win_dir, first)
        test_autorun(desktop, wine, win_dir, shots)
        test_print_command(wine, win_dir)
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
        print("FAIL: %s" % e)
        print_logs(workdir)
        return 1
    finally:
        if wine:
            wine.close()
        desktop.close()
        shutil.rmtree(workdir, ignore_errors=True)
    print("all Windows desktop checks passed (screen %dx%d)" % (SCREEN_W, SCREEN_H))
    return 0


if __name__ == "__main__":
    sys.exit(main())
