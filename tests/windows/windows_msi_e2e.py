#!/usr/bin/env python3
"""The Windows Installer package as a user meets it, in one fresh Wine prefix (code page 936) on an Xvfb
display with a tray host, the stand-in word processor registered as "Word.Application":

    windows_msi_e2e.py MSI BUILD_DIR RELEASE STANDIN SHELLHELPER WININFO SCREENSHOT_DIR WORK_DIR

MSI is the package of RELEASE; packages of RELEASE - 1 and of RELEASE again are made from BUILD_DIR with
scripts/package-windows.sh. In order: the older one installed with AUTOSTART=1; the self-update imitated and
the program started by the Run value; the upgrade with it running; the same release packed again with
AUTOSTART=0; the older one refused; MSI again with AUTOSTART=1; the Start menu shortcut; the folder menu's command on stand-in documents (its box read and
pictured); the removal with the program running. Exit code 0 when every check passed, 1 otherwise, 77 when
a needed tool is missing.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from windows_desktop_e2e import TOOLS, Wine, print_logs, screenshot_window, tray_icons  # noqa: E402
from windows_print_e2e import Server, boot_with_rpc, make_tree, prefix_processes  # noqa: E402
from app_desktop_e2e import Desktop, Failure, check, poll, stays  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
MENU_KEYS = ["HKCU\\Software\\Classes\\%s\\shell\\QuillmarkPrintFolder" % kind
             for kind in ("Directory", "Drive")]
SHORTCUT = ("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "澄笺.lnk")
DOCS = "C:\\打印 文档"
LIST = DOCS + "\\无法设置或修改密码的文件目录.txt"
SETTINGS = b"sourcePath=" + "C:/打印 文档/".encode("gbk") + b"\r\n"
# What the self-update leaves beside its new executable: backup, package, staging folder, newer files.
LEFTOVERS = {"Quillmark_old": b"MZ", "Quillmark.zip.part": b"PK", "platforms/qdirect2d.dll": b"MZ",
             "Quillmark_update.aB3xYz/Quillmark.exe": b"MZ", "translations/qt_zh_CN.qm": b"qm"}


class Windows:
    """The prefix seen from Windows: msiexec, the registry, the helper, the installed folder."""

    def __init__(self, wine, helper):
        self.wine, self.helper = wine, helper
        users = wine.c_drive("users")
        user = [n for n in os.listdir(users) if os.path.isdir(os.path.join(users, n, "AppData", "Local"))][0]
        self.profile = os.path.join(users, user)
        self.folder = os.path.join(self.profile, "AppData", "Local", "Programs", "Quillmark")
        self.install = "C:\\users\\%s\\AppData\\Local\\Programs\\Quillmark" % user
        self.run_value = '"%s\\Quillmark.exe" -autorun' % self.install

    def msiexec(self, *args):
        log = self.wine.c_drive("msiexec.log")
        code = self.wine.run("msiexec", list(args) + ["/qn", "/l*v", "C:\\msiexec.log"], timeout=300).returncode
        text = open(log, "rb").read().decode("gbk", errors="replace") if os.path.exists(log) else ""
        return code, text

    def reg(self, key, name=None):
        """A value's text (name None: the key's default), None when missing."""
        result = self.wine.run("reg", ["query", key] + (["/v", name] if name else ["/ve"]))
        lines = result.stdout.decode("gbk", errors="replace").splitlines() if result.returncode == 0 else []
        for line in lines:
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_") and (parts[0] == name or name is None):
                return parts[2]
        return None

    def ask(self, *args):
        # Into a file: a program the helper starts inherits its output and would keep a pipe open.
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(["wine", self.helper] + list(args), env=self.wine.env, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=120).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", errors="replace")

    def products(self):
        """Apps & features: (product code, name, version, publisher, folder) of each product."""
        out = self.wine.run("uninstaller", ["--list"]).stdout.decode("gbk", errors="replace")
        found = []
        for code, _, name in (line.partition("|||") for line in out.splitlines() if "|||" in line):
            key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code.strip()
            found.append((code.strip(), name.strip()) + tuple(
                self.reg(key, v) for v in ("DisplayVersion", "Publisher", "InstallLocation")))
        return found

    def running(self):
        return prefix_processes(self.wine, b"Quillmark.exe")

    def tree(self):
        """The installed folder: relative path of each file with its bytes, of each folder with None."""
        return read_tree(self.folder)


def read_tree(top):
    found = {}
    for base, folders, files in os.walk(top):
        rel = os.path.relpath(base, top).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        found.update({prefix + f + "/": None for f in folders})
        found.update({prefix + f: open(os.path.join(base, f), "rb").read() for f in files})
    return found


def write_files(top, files):
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(top, rel)), exist_ok=True)
        open(os.path.join(top, rel), "wb").write(data)


def package(build, release, out):
    """The installer of this build under a release number, made by scripts/package-windows.sh."""
    made = subprocess.run([os.path.join(ROOT, "scripts", "package-windows.sh"), "--msi-only", "--release",
                           str(release), build, out], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=300)
    check(made.returncode == 0,
          "no package of release %d:\n%s" % (release, made.stdout.decode(errors="replace")))
    return made.stdout.decode().split()[-1]


def contents(msi, out):
    """What an installer installs (as read_tree gives it) and its product code."""
    subprocess.run(["msiextract", "-C", out, msi], check=True, stdout=subprocess.DEVNULL, timeout=120)
    props = subprocess.run(["msiinfo", "export", msi, "Property"], stdout=subprocess.PIPE, check=True).stdout
    code = re.search(rb"^ProductCode\t(\{[0-9A-F-]+\})", props, re.M).group(1).decode()
    return read_tree(os.path.join(out, "Programs", "Quillmark")), code


def pe_subsystem(program):
    """2 for a window program, 3 for a console program."""
    header = int.from_bytes(program[0x3C:0x40], "little")
    return int.from_bytes(program[header + 92:header + 94], "little")


def test_install_update_upgrade(desktop, win, release, newer):
    code, log = win.msiexec("/i", "C:\\older.msi", "AUTOSTART=1")
    check(code == 0, "msiexec /i of the older package: exit code %d\n%s" % (code, log[-2000:]))
    check(win.reg(RUN_KEY, "Quillmark") == win.run_value, "Run value %r" % win.reg(RUN_KEY, "Quillmark"))
    products = win.products()
    check(len(products) == 1 and products[0][2].endswith(".%d" % (release - 1))
          and products[0][3:] == ("岚舟软件", win.install + "\\"), "Apps & features: %r" % products)
    print("ok - the older package installed with AUTOSTART=1: %r, Run value %s" % (products, win.run_value))

    # The self-update's doing: the executable replaced by newer bytes, what it leaves, the settings file.
    exe = os.path.join(win.folder, "Quillmark.exe")
    updated = open(exe, "rb").read() + b"\0updated"
    os.remove(exe)
    write_files(win.folder, dict(LEFTOVERS, **{"Quillmark.exe": updated, "Quillmark.kov": SETTINGS}))
    check(win.ask("start", win.run_value)[0] == 0, "the Run value's command did not start")
    poll("the tray icon after the Run value's command", lambda: tray_icons(desktop) > 0, timeout=60)
    stays("the window was shown by the Run value's start", win.wine.visible_window, 1.5)
    print("ok - the updated program started by the Run value's command, hidden in the tray")

    code, log = win.msiexec("/i", "C:\\new.msi")
    check(code == 0, "msiexec /i of the newer package: exit code %d\n%s" % (code, log[-2000:]))
    check(win.running() == [], "the program still runs after the upgrade")
    products = win.products()
    check(len(products) == 1 and products[0][2].endswith(".%d" % release), "Apps & features: %r" % products)
    expected = dict(newer, **{"Quillmark.kov": SETTINGS})
    check(win.tree() == expected, "after the upgrade: %s, expected %s" % (sorted(win.tree()), sorted(expected)))
    check(win.reg(RUN_KEY, "Quillmark") == win.run_value, "Run value after the upgrade")
    print("ok - upgraded with the program running: ended, the newer package's files only, the leftovers gone, "
          "Quillmark.kov and AUTOSTART kept")


def test_reinstalls(win, rebuilt_files, codes):
    """The same release packed again replaces the installed one, here with AUTOSTART=0; the older package is
    refused; the first package again, with AUTOSTART=1."""
    code, _ = win.msiexec("/i", "C:\\rebuilt.msi", "AUTOSTART=0")
    before = win.tree()
    check(code == 0 and [p[0] for p in win.products()] == [codes[2]] and win.reg(RUN_KEY, "Quillmark") is None
          and before == dict(rebuilt_files, **{"Quillmark.kov": SETTINGS}),
          "the same release packed again: exit code %d, products %r" % (code, win.products()))
    code, log = win.msiexec("/i", "C:\\older.msi")
    # Wine's Windows Installer logs no message under /qn: the package's own is checked when it is built.
    check(code != 0 and "LaunchConditions。返回值 0" in log and [p[0] for p in win.products()] == [codes[2]]
          and win.tree() == before, "the older package over the newer: exit code %d" % code)
    code, _ = win.msiexec("/i", "C:\\new.msi", "AUTOSTART=1")
    check(code == 0 and [p[0] for p in win.products()] == [codes[1]]
          and win.reg(RUN_KEY, "Quillmark") == win.run_value, "AUTOSTART=1 again: exit code %d" % code)
    print("ok - the same release packed again replaced the installed one (AUTOSTART=0: no Run value), the "
          "older package was refused, AUTOSTART=1 again")


def test_shortcut(win):
    link = os.path.join(win.profile, *SHORTCUT)
    code, out = win.ask("link", "C:\\" + os.path.relpath(link, win.wine.c_drive()).replace("/", "\\"))
    fields = dict(line.split(" ", 1) for line in out.splitlines() if " " in line)
    check(code == 0 and fields.get("target") == win.install + "\\Quillmark.exe", "the shortcut: %r" % out)
    check(fields.get("folder", "").rstrip("\\") == win.install, "the shortcut's folder: %r" % out)
    check(win.ask("start", '"%s"' % fields["target"])[0] == 0, "the shortcut's target did not start")
    info = poll("the window started from the shortcut", win.wine.visible_window, timeout=60)
    check(info["client"] == [940, 400], "client area %s" % info["client"])
    print("ok - Start menu 澄笺 -> %s, started from there with its window" % fields["target"])


def test_folder_menu(desktop, win, server, shots):
    command = '"%s\\quillmark-shell.exe" print-folder "%%1"' % win.install
    for key in MENU_KEYS:
        check(win.reg(key) == "打印全部 Word 文档" and win.reg(key + "\\command") == command,
              "%s: %r %r" % (key, win.reg(key), win.reg(key + "\\command")))
    make_tree(win.wine, win.wine.c_drive("打印 文档"),
              [("封面.docx", "正文"), ("报告\\一月.docx", "正文"), ("报告\\损坏.doc", "standin:damaged")])
    server.reset()
    # Wine does not merge the user's own classes into HKEY_CLASSES_ROOT, so its Explorer would not offer
    # the entry: the command runs as Explorer runs it, "%1" replaced by the folder.
    verb = subprocess.Popen(["wine", win.helper, "run", command.replace("%1", DOCS)], env=win.wine.env,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def box():
        code, out = win.ask("box", "澄笺")
        return code == 0 and out.replace("\r\n", "\n").partition("text ")[2].rstrip("\n")

    text = poll("the folder menu's box", box, timeout=120, interval=0.2)
    rect = subprocess.run(["wine", win.wine.wininfo, "澄笺"], env=win.wine.env, stdout=subprocess.PIPE,
                          timeout=60).stdout.decode().split("window ")[1].split("\n")[0].split()
    screenshot_window(desktop, {"window": [int(v) for v in rect]},
                      os.path.join(shots, "windows-folder-verb.png"))
    expected = "部分文档未能打印：打印 文档\n\n已打印 2 个文档，未能打印 1 个。\n未能打印的文档列在：" + LIST
    check(text == expected, "the box says %r" % text)
    check(server.printed() == [DOCS + "\\封面.docx", DOCS + "\\报告\\一月.docx"], "printed %s" % server.printed())
    win.ask("box", "澄笺", "ok")
    check(re.search(rb"^exit 1\r?$", verb.communicate(timeout=60)[0], re.M), "the command's exit code")
    print("ok - the folder menu's command printed %s; its box:\n     | %s"
          % (", ".join(server.printed()), text.replace("\n", "\n     | ")))


def test_remove(win, codes):
    check(len(win.running()) == 1, "the program is not running before the removal")
    write_files(win.folder, LEFTOVERS)
    code, log = win.msiexec("/x", "C:\\new.msi")
    check(code == 0, "msiexec /x: exit code %d\n%s" % (code, log[-2000:]))
    check(win.running() == [], "the program still runs after the removal")
    check(win.tree() == {"Quillmark.kov": SETTINGS}, "left in the folder: %s" % sorted(win.tree()))
    check(not os.path.exists(os.path.join(win.profile, *SHORTCUT)), "the Start menu shortcut is still there")
    check(win.products() == [] and not os.listdir(win.wine.c_drive("windows", "Installer")),
          "still installed: %r" % win.products())
    # The registry as Wine writes it out: nothing of Quillmark (the stand-in's own registration gone first),
    # no product code, plain or as Windows Installer packs it.
    check(win.wine.run("C:\\standin\\wordstandin.exe", ["/unregserver"]).returncode == 0, "stand-in registered")
    win.wine.close()
    hexes = [c.strip("{}").replace("-", "") for c in codes]
    packed = [h[7::-1] + h[11:7:-1] + h[15:11:-1] + "".join(h[i + 1] + h[i] for i in range(16, 32, 2))
              for h in hexes]
    words = ["quillmark"] + [w.lower() for w in codes + packed]
    found = [line.strip() for name in ("user.reg", "system.reg")
             for line in open(os.path.join(win.wine.prefix, name), encoding="utf-8", errors="replace")
             if any(w in line.lower() for w in words)]
    check(not found, "the registry still holds: %s" % found)
    print("ok - removed with the program running: only Quillmark.kov left; no shortcut, key, value or product")


def main():
    if len(sys.argv) != 9:
        print(__doc__)
        return 2
    msi, build, release, standin, helper, wininfo, shots, work_base = sys.argv[1:]
    release = int(release)
    missing = [t for t in TOOLS + ["msiextract", "msiinfo", "wixl"] if shutil.which(t) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return 77
    os.makedirs(shots, exist_ok=True)
    os.makedirs(work_base, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="msi-e2e.", dir=work_base)
    desktop = Desktop(workdir)
    wine = None
    try:
        check(release >= 1, "release %d has no older release to upgrade from" % release)
        older = package(build, release - 1, os.path.join(workdir, "older"))
        rebuilt = package(build, release, os.path.join(workdir, "rebuilt"))
        (newer, new_code), (_, older_code), (rebuilt_files, rebuilt_code) = (
            contents(p, os.path.join(workdir, "files%d" % i)) for i, p in enumerate((msi, older, rebuilt)))
        # Started by Explorer, a console program would open a console window.
        check(pe_subsystem(newer["quillmark-shell.exe"]) == 2, "quillmark-shell.exe is not a window program")
        desktop.start()
        wine = Wine(desktop, workdir, wininfo)
        boot_with_rpc(wine)
        for source, name in ((older, "older.msi"), (msi, "new.msi"), (rebuilt, "rebuilt.msi"),
                             (standin, "standin/wordstandin.exe")):
            os.makedirs(os.path.dirname(wine.c_drive(name)), exist_ok=True)
            shutil.copy(source, wine.c_drive(name))
        os.makedirs(wine.c_drive("standin", "logs"))
        check(wine.run("C:\\standin\\wordstandin.exe", ["/regserver", "C:\\standin\\logs"]).returncode == 0,
              "the stand-in could not be registered")
        win = Windows(wine, helper)
        test_install_update_upgrade(desktop, win, release, newer)
        codes = [older_code, new_code, rebuilt_code]
        test_reinstalls(win, rebuilt_files, codes)
        test_shortcut(win)
        test_folder_menu(desktop, win, Server(wine), shots)
        test_remove(win, codes)
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as e:
        print("FAIL: %s" % e)
        print_logs(workdir)
        return 1
    finally:
        if wine:
            for pid in prefix_processes(wine, b"wordstandin.exe"):
                os.kill(pid, 9)
            wine.close()
        desktop.close()
        shutil.rmtree(workdir, ignore_errors=True)
    print("all Windows installer checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
