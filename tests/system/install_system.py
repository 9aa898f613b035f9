#!/usr/bin/env python3
"""The installation for one user, into a temporary home: scripts/install.sh and `cmake --install`.

    install_system.py SOURCE_DIR BUILD_DIR

Checks files and modes, validates the entries with desktop-file-validate, starts the installed program
under Xvfb with a tray host (it saves its settings beside itself), and checks that --uninstall leaves
nothing. Exit code 0 when every check passed, 1 otherwise, 77 when a needed tool is missing.
"""

import os
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_desktop_e2e import TOOLS, App, Desktop, Failure, check, poll, stays  # noqa: E402

ICON_SIZES = (16, 32, 48, 128)
NAUTILUS_SCRIPT = "打印全部 Word 文档"


def files_below(folder):
    found = set()
    for base, dirs, files in os.walk(folder):
        for name in files + [d for d in dirs if os.path.islink(os.path.join(base, d))]:
            found.add(os.path.relpath(os.path.join(base, name), folder))
    return found


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n", "%s is no PNG" % path)
    return struct.unpack(">II", head[16:24])


def entry(path):
    """The [Desktop Entry] group of a desktop file as a dict."""
    values, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line:
                key, value = line.split("=", 1)
                values[key] = value
    return values


def exec_argv(value):
    """An Exec value as the desktop would run it: string escapes first, then the quoting rules of the
    desktop entry format (inside double quotes a backslash escapes ", `, $ and itself)."""
    text = value.replace("\\\\", "\\")
    argv, current, quoted, i, in_word = [], "", False, 0, False
    while i < len(text):
        c = text[i]
        if quoted:
            if c == "\\" and i + 1 < len(text) and text[i + 1] in '"`$\\':
                current += text[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                current += c
        elif c == '"':
            quoted, in_word = True, True
        elif c == " ":
            if in_word:
                argv.append(current)
            current, in_word = "", False
        else:
            current += c
            in_word = True
        i += 1
    check(not quoted, "unbalanced quotes in Exec=%s" % value)
    if in_word:
        argv.append(current)
    return argv


def validate(path):
    result = subprocess.run(["desktop-file-validate", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=30)
    text = result.stdout.decode()
    problems = [line for line in text.splitlines() if "error:" in line or "warning:" in line]
    check(result.returncode == 0 and not problems, "desktop-file-validate %s: %s" % (path, text))


def run_install(source, env, args):
    result = subprocess.run([os.path.join(source, "scripts", "install.sh")] + args, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    check(result.returncode == 0, "install.sh %s failed: %s" % (" ".join(args), result.stdout.decode()))
    return result.stdout.decode()


def test_install(source, build, root):
    home = os.path.join(root, "home")
    os.makedirs(home)
    env = dict(os.environ, HOME=home)
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME"):
        env.pop(name, None)
    run_install(source, env, ["--build-dir", build, "--autostart", "--file-manager"])

    prefix = os.path.join(home, ".local", "opt", "quillmark")
    share = os.path.join(home, ".local", "share")
    expected = {
        os.path.join(prefix, "Quillmark"): 0o755,
        os.path.join(prefix, "quillmark-print"): 0o755,
        os.path.join(prefix, "share", "quillmark", "folder-action"): 0o755,
        os.path.join(share, "applications", "quillmark.desktop"): 0o644,
        os.path.join(home, ".config", "autostart", "quillmark.desktop"): 0o644,
        os.path.join(share, "kio", "servicemenus", "quillmark-print-folder.desktop"): 0o755,
        os.path.join(share, "kservices5", "ServiceMenus", "quillmark-print-folder.desktop"): 0o755,
    }
    for size in ICON_SIZES:
        expected[os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps", "quillmark.png")] = 0o644
    for path, wanted in expected.items():
        check(os.path.isfile(path), "missing %s" % path)
        check(mode(path) == wanted, "%s has mode %o, expected %o" % (path, mode(path), wanted))
    for size in ICON_SIZES:
        icon = os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps", "quillmark.png")
        check(png_size(icon) == (size, size), "%s is %dx%d" % ((icon,) + png_size(icon)))
    script = os.path.join(share, "nautilus", "scripts", NAUTILUS_SCRIPT)
    check(os.path.realpath(script) == os.path.join(prefix, "share", "quillmark", "folder-action"),
          "the Nautilus script leads to %s" % os.path.realpath(script))
    check(os.access(script, os.X_OK), "the Nautilus script is not executable")
    print("ok - install.sh: programs, entries, icons (%s px), autostart and folder actions with their modes"
          % "/".join(map(str, ICON_SIZES)))

    menu = os.path.join(share, "applications", "quillmark.desktop")
    autostart = os.path.join(home, ".config", "autostart", "quillmark.desktop")
    for path in (menu, autostart):
        validate(path)
    m = entry(menu)
    check(m["Name"] == "澄笺", "Name=%s" % m["Name"])
    check("Office" in m["Categories"].split(";"), "Categories=%s" % m["Categories"])
    check(m.get("Comment") and m.get("Comment[zh_CN]"), "an English and a Chinese comment")
    check(exec_argv(m["Exec"]) == [os.path.join(prefix, "Quillmark")], "menu Exec=%s" % m["Exec"])
    check(exec_argv(entry(autostart)["Exec"]) == [os.path.join(prefix, "Quillmark"), "-autorun"],
          "autostart Exec=%s" % entry(autostart)["Exec"])
    print("ok - desktop-file-validate accepts the menu and autostart entries; they start the installed program")
    return home, env, prefix


def test_installed_program(desktop, prefix, root, autostart):
    program = os.path.join(prefix, "Quillmark")
    # As the session would at login.
    argv = exec_argv(entry(autostart)["Exec"])
    hidden = App(desktop, argv[0], argv[1:])
    poll("the tray icon of the autostarted program", hidden.tray_icon)
    stays("the autostarted program showed its window", hidden.main_window, 1.0)
    hidden.process.send_signal(signal.SIGTERM)
    check(hidden.wait_exit() == 0, "the autostarted program did not end cleanly")
    print("ok - the autostart entry starts the installed program hidden, with only its tray icon")

    docs = os.path.join(root, "empty folder")
    os.makedirs(docs)
    app = App(desktop, program)
    window = poll("the installed program's window", app.main_window)
    wx, wy = window["x"], window["y"]
    desktop.click(wx + 24, wy + 85)
    poll("the folder dialog",
         lambda: next((w for w in desktop.visible_windows(app.pid) if w["name"] == "选择文件夹"), None))
    desktop.x(["xdotool", "type", "--delay", "20", docs])
    desktop.x(["xdotool", "key", "Return"])
    try:
        poll("the folder dialog to close", lambda: not any(
            w["name"] == "选择文件夹" for w in desktop.visible_windows(app.pid)), timeout=3)
    except Failure:
        desktop.x(["xdotool", "key", "Return"])
        poll("the folder dialog to close", lambda: not any(
            w["name"] == "选择文件夹" for w in desktop.visible_windows(app.pid)), timeout=5)
    desktop.click(wx + 905, wy + 85)
    settings = os.path.join(prefix, "Quillmark.kov")
    poll("the settings file beside the installed program", lambda: os.path.exists(settings) and
         open(settings, "rb").read() == ("sourcePath=%s/\r\n" % docs).encode(), timeout=15)
    app.process.send_signal(signal.SIGTERM)
    check(app.wait_exit(timeout=20) == 0, "the installed program did not end cleanly")
    print("ok - the installed program runs under Xvfb with a tray host and saves its settings beside itself")


def test_uninstall(source, env, home, prefix):
    recorded = open(os.path.join(prefix, "share", "quillmark", "installed-files")).read().split("\n")
    recorded = [p for p in recorded if p]
    check(len(recorded) >= 15, "the record holds only %d files" % len(recorded))
    run_install(source, env, ["--uninstall"])
    left = [p for p in recorded if os.path.lexists(p)]
    check(not left, "--uninstall left %s" % left)
    check(not os.path.exists(prefix), "--uninstall left the program folder")
    ours = [p for p in files_below(home) if "quillmark" in p.lower() or NAUTILUS_SCRIPT in p]
    check(not ours, "left below the home: %s" % ours)
    others = sorted(files_below(home))
    print("ok - --uninstall removes programs, settings, entries, icons and folder actions%s"
          % (" (left: the desktop's own %s)" % others if others else "; the home is empty again"))

    # A folder that this script did not install into is never emptied.
    foreign = os.path.join(home, "foreign")
    os.makedirs(foreign)
    open(os.path.join(foreign, "Quillmark"), "w").close()
    result = subprocess.run([os.path.join(source, "scripts", "install.sh"), "--uninstall", "--prefix", foreign],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    check(result.returncode != 0 and os.path.exists(os.path.join(foreign, "Quillmark")),
          "--uninstall on a folder without a record removed files or claimed success")
    print("ok - --uninstall refuses a folder it has no record of and removes nothing there")


def test_cmake_install(build, root):
    # A prefix with characters that the Exec line must quote and escape.
    prefix = os.path.join(root, "apps $HOME `x` \"q\" 100%")
    result = subprocess.run(["cmake", "--install", build, "--prefix", prefix], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=120)
    check(result.returncode == 0, "cmake --install failed: %s" % result.stdout.decode())
    wanted = {"Quillmark", "quillmark-print", "share/applications/quillmark.desktop",
              "share/quillmark/autostart/quillmark.desktop", "share/quillmark/folder-action",
              "share/quillmark/servicemenus/quillmark-print-folder.desktop"}
    wanted |= {"share/icons/hicolor/%dx%d/apps/quillmark.png" % (s, s) for s in ICON_SIZES}
    check(files_below(prefix) == wanted, "cmake --install gave %s" % sorted(files_below(prefix)))
    menu = os.path.join(prefix, "share", "applications", "quillmark.desktop")
    validate(menu)
    validate(os.path.join(prefix, "share", "quillmark", "autostart", "quillmark.desktop"))
    argv = exec_argv(entry(menu)["Exec"].replace("%%", "%"))
    check(argv == [os.path.join(prefix, "Quillmark")], "Exec=%s gives %r" % (entry(menu)["Exec"], argv))
    print("ok - cmake --install gives the same layout; Exec quotes a prefix with spaces, $, `, \" and %")


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    missing = [t for t in TOOLS + ["desktop-file-validate"] if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    root = tempfile.mkdtemp(prefix="qm-install-")
    desktop = Desktop(root)
    failed = False
    try:
        home, env, prefix = test_install(source, build, root)
        desktop.start()
        desktop.env["HOME"] = home  # what the program and its dialogs keep goes to the temporary home
        test_installed_program(desktop, prefix, root,
                               os.path.join(home, ".config", "autostart", "quillmark.desktop"))
        desktop.close()
        test_uninstall(source, env, home, prefix)
        test_cmake_install(build, root)
    except (Failure, subprocess.TimeoutExpired, OSError, KeyError) as error:
        failed = True
        print("FAIL - %s" % error)
    finally:
        desktop.close()
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
