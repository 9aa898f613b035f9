#!/usr/bin/env python3
"""The Windows Installer package as a user meets it, in one fresh Wine prefix (code page 936) on an Xvfb
display with a tray host, the stand-in word processor registered as "Word.Application":

    windows_msi_e2e.py MSI BUILD_DIR RELEASE STANDIN SHELLHELPER WININFO SCREENSHOT_DIR WORK_DIR

MSI is dist/Quillmark-<version>.<RELEASE>-win32.msi; an older package (RELEASE - 1) is made from BUILD_DIR
with scripts/package-windows.sh. STANDIN is wordstandin.exe, SHELLHELPER windows_shellhelper.exe, WININFO
windows_wininfo.exe.
In order: the older package installed with AUTOSTART=1; the self-update imitated (a changed executable, its
backup, package, staging folder, files of a newer release) and the program started by the Run key's
command; the upgrade to MSI with the program running; the same release packed again installed over it; the
older package refused; the program started from the Start menu shortcut's target; the folder menu's command on a folder of stand-in
documents (its box read and pictured, no other window shown); the removal with the program running, which
leaves nothing but the settings file.
Exit code 0 when every check passed, 1 otherwise, 77 when a needed tool is missing.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from windows_desktop_e2e import TITLE, TOOLS, Wine, print_logs, screenshot_window, tray_icons  # noqa: E402
from windows_print_e2e import Server, boot_with_rpc, make_tree, prefix_processes  # noqa: E402
from app_desktop_e2e import Desktop, Failure, check, poll, stays  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
INSTALL = "C:\\users\\%s\\AppData\\Local\\Programs\\Quillmark"
SHORTCUT = ("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "澄笺.lnk")
RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
VERB = "QuillmarkPrintFolder"
VERB_TEXT = "打印全部 Word 文档"
BOX = "澄笺"
DOCS = "打印 文档"  # C:\打印 文档
LIST_NAME = "无法设置或修改密码的文件目录.txt"
SETTINGS = b"sourcePath=" + "C:/打印 文档/".encode("gbk") + b"\r\n"
# What the self-update leaves in the folder besides its new executable.
UPDATE_LEFTOVERS = {"Quillmark_old": b"MZ older", "Quillmark.zip.part": b"PK partial",
                    "Quillmark_update.aB3xYz/Quillmark.exe": b"MZ staged",
                    "platforms/qdirect2d.dll": b"MZ newer plugin", "translations/qt_zh_CN.qm": b"qm"}
UPDATED_MARK = b"\0updated by the self-update"
SUMMARY_ACTIONS = {"AppSearch", "KeepAutostart", "LaunchConditions", "RemoveExistingProducts", "StopPrograms",
                   "RemoveFiles", "RemoveLeftovers", "InstallFiles", "CreateShortcuts", "WriteRegistryValues",
                   "RemoveRegistryValues", "RemoveShortcuts", "INSTALL"}


class Windows:
    """The prefix's Windows side: registry values, the helper's answers, the installed folder."""

    def __init__(self, wine, helper):
        self.wine = wine
        self.helper = helper
        users = wine.c_drive("users")
        user = [n for n in os.listdir(users) if os.path.isdir(os.path.join(users, n, "AppData", "Local"))][0]
        self.install = INSTALL % user
        self.install_dir = wine.c_drive("users", user, "AppData", "Local", "Programs", "Quillmark")
        self.profile = wine.c_drive("users", user)

    def msiexec(self, args, log_name):
        log = "C:\\" + log_name
        result = self.wine.run("msiexec", args + ["/qn", "/l*v", log], timeout=300)
        path = self.wine.c_drive(log_name)
        if not os.path.exists(path):
            raise Failure("msiexec %s wrote no log (exit code %d): %s" % (" ".join(args), result.returncode,
                          (result.stdout + result.stderr).decode("gbk", errors="replace")))
        return result.returncode, open(path, "rb").read().decode("gbk", errors="replace")

    def reg(self, key, name=None):
        """The value's text (name None: the default value), or None when key or value is missing."""
        result = self.wine.run("reg", ["query", key] + (["/v", name] if name else ["/ve"]))
        if result.returncode != 0:
            return None
        for line in result.stdout.decode("gbk", errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_") and (parts[0] == name or name is None):
                return parts[2]
        return None

    def key_exists(self, key):
        return self.wine.run("reg", ["query", key]).returncode == 0

    def ask(self, *args, timeout=120):
        # Into a file: a program the helper starts inherits its output, and a pipe would stay open with it.
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(["wine", self.helper] + list(args), env=self.wine.env, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", errors="replace")

    def products(self):
        """Apps & features: product code, name, version, publisher and folder of every installed product."""
        out = self.wine.run("uninstaller", ["--list"]).stdout.decode("gbk", errors="replace")
        found = []
        for line in out.splitlines():
            code, _, name = line.partition("|||")
            if name:
                key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code.strip()
                found.append((code.strip(), name.strip(), self.reg(key, "DisplayVersion"),
                              self.reg(key, "Publisher"), self.reg(key, "InstallLocation")))
        return found

    def running(self, name):
        return prefix_processes(self.wine, name.encode())

    def files(self):
        """The installed folder's files, relative, with their bytes."""
        found = {}
        for base, _, names in os.walk(self.install_dir):
            for name in names:
                path = os.path.join(base, name)
                found[os.path.relpath(path, self.install_dir).replace(os.sep, "/")] = open(path, "rb").read()
        return found

    def folders(self):
        """The folders inside the installed folder, relative."""
        return sorted(os.path.relpath(os.path.join(base, name), self.install_dir).replace(os.sep, "/")
                      for base, names, _ in os.walk(self.install_dir) for name in names)


def pe_subsystem(program):
    """The subsystem a Windows executable asks for: 2 a window program, 3 a console program."""
    header = int.from_bytes(program[0x3C:0x40], "little")
    return int.from_bytes(program[header + 24 + 68:header + 24 + 70], "little")


def payload(msi, workdir):
    """The files the package installs, as msiextract unpacks them: relative path and bytes."""
    target = os.path.join(workdir, "payload-" + os.path.basename(msi))
    os.makedirs(target)
    subprocess.run(["msiextract", "-C", target, msi], check=True, stdout=subprocess.DEVNULL, timeout=120)
    found = {}
    for base, _, names in os.walk(target):
        for name in names:
            path = os.path.join(base, name)
            rel = os.path.relpath(path, target).replace(os.sep, "/")
            found[rel.split("Programs/Quillmark/", 1)[1]] = open(path, "rb").read()
    return found


def msiexec_summary(text):
    """The actions msiexec logged, each with its result (1 done, 0 skipped, 3 failed), for the report."""
    ended = []
    for action in re.findall(r"操作结束 [0-9:]+: (\w+)。返回值 (-?\d+)。", text):
        if action[0] in SUMMARY_ACTIONS and action not in ended:
            ended.append(action)
    return [" ".join("%s=%s" % action for action in ended)]


def test_install_older(win, release):
    code, log = win.msiexec(["/i", "C:\\older.msi", "AUTOSTART=1"], "install-older.log")
    check(code == 0, "msiexec /i of the older package: exit code %d\n%s" % (code, log[-2000:]))
    run = win.reg(RUN_KEY, "Quillmark")
    check(run == '"%s\\Quillmark.exe" -autorun' % win.install, "the Run value after AUTOSTART=1: %r" % run)
    products = win.products()
    check(len(products) == 1 and products[0][2].endswith(".%d" % (release - 1)) and products[0][3] == "岚舟软件"
          and products[0][4] == win.install + "\\", "products: %r" % products)
    print("ok - the older package installed with AUTOSTART=1; Apps & features: %s %s %s, %s, %s; Run value %s"
          % (products[0] + (run,)))
    for line in msiexec_summary(log):
        print("     msiexec: " + line)


def imitate_update(win):
    """What the self-update leaves: the running executable's backup, a new executable, its package, a staging
    folder and files of a newer release; and the settings file the program wrote."""
    exe = os.path.join(win.install_dir, "Quillmark.exe")
    old = open(exe, "rb").read()
    for rel, data in UPDATE_LEFTOVERS.items():
        path = os.path.join(win.install_dir, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").write(data)
    os.remove(exe)
    open(exe, "wb").write(old + UPDATED_MARK)  # newer bytes, written after the installer's
    open(os.path.join(win.install_dir, "Quillmark.kov"), "wb").write(SETTINGS)


def test_run_key_starts_hidden(desktop, win):
    """The login's start, as the Run value says: the (updated) program in the tray, no window."""
    command = win.reg(RUN_KEY, "Quillmark")
    code, out = win.ask("start", command)
    check(code == 0, "the Run value's command did not start: %r" % command)
    poll("the tray icon after the Run value's command", lambda: tray_icons(desktop) > 0, timeout=60)
    stays("the window was shown by the Run value's start", win.wine.visible_window, 1.5)
    print("ok - the Run value's command started the program hidden in the tray (%s)" % out.strip())


def test_upgrade(win, release, older_payload, new_payload):
    before = win.running("Quillmark.exe")
    check(len(before) == 1, "the program is not running before the upgrade: %r" % before)
    code, log = win.msiexec(["/i", "C:\\new.msi"], "upgrade.log")
    check(code == 0, "msiexec /i of the newer package: exit code %d\n%s" % (code, log[-2000:]))
    check(win.running("Quillmark.exe") == [], "the program still runs after the upgrade")
    products = win.products()
    check(len(products) == 1 and products[0][2].endswith(".%d" % release), "products after the upgrade: %r"
          % products)
    files = win.files()
    expected = dict(new_payload, **{"Quillmark.kov": SETTINGS})
    check(sorted(files) == sorted(expected), "files after the upgrade: %s, expected %s"
          % (sorted(files), sorted(expected)))
    changed = [name for name in files if files[name] != expected[name]]
    check(not changed, "files not those of the newer package: %s" % changed)
    folders = sorted({name.rsplit("/", 1)[0] for name in expected if "/" in name})
    check(win.folders() == folders, "folders after the upgrade: %s, expected %s" % (win.folders(), folders))
    check(older_payload["Quillmark.exe"] + UPDATED_MARK != files["Quillmark.exe"], "the updated program stayed")
    run = win.reg(RUN_KEY, "Quillmark")
    check(run == '"%s\\Quillmark.exe" -autorun' % win.install, "the Run value after the upgrade: %r" % run)
    print("ok - upgraded to %s %s with the updated program running: it was ended, every file is the newer "
          "package's, the update's leftovers are gone, Quillmark.kov kept byte for byte, AUTOSTART kept"
          % products[0][1:3])
    for line in msiexec_summary(log):
        print("     msiexec: " + line)


def report_made(win):
    """What the installation made, for the report."""
    print("     files in %s: %s" % (win.install, ", ".join(
        "%s (%d)" % (name, len(data)) for name, data in sorted(win.files().items()))))
    keys = ["HKCU\\Software\\Classes\\%s\\shell\\%s%s" % (kind, VERB, sub)
            for kind in ("Directory", "Drive") for sub in ("", "\\command")]
    for key in keys + [RUN_KEY, "HKCU\\Software\\Quillmark"]:
        out = win.wine.run("reg", ["query", key]).stdout.decode("gbk", errors="replace")
        for line in out.splitlines():
            if "REG_" in line and (key != RUN_KEY or "Quillmark" in line):
                print("     %s: %s" % (key, " ".join(line.split())))


def test_same_version(win, rebuilt, new_payload):
    """The same release packed again (another product code) replaces the installed one."""
    code, log = win.msiexec(["/i", "C:\\rebuilt.msi"], "rebuilt.log")
    check(code == 0, "msiexec /i of the package built again: exit code %d\n%s" % (code, log[-2000:]))
    products = win.products()
    check([p[0] for p in products] == [product_code(rebuilt)], "products: %r, expected only %s"
          % (products, product_code(rebuilt)))
    files = win.files()
    check(sorted(files) == sorted(list(new_payload) + ["Quillmark.kov"]) and files["Quillmark.kov"] == SETTINGS,
          "files after the reinstall: %s" % sorted(files))
    check(win.reg(RUN_KEY, "Quillmark") is not None, "the Run value went with the reinstall")
    print("ok - the same release packed again replaced the installed one: one product, %s" % products[0][0])


def test_older_refused(win):
    """The older package over the newer release: refused by its launch condition, nothing changed. (Wine's
    Windows Installer logs no message text under /qn; the package's own is checked when it is built.)"""
    before = (win.products(), win.files())
    code, log = win.msiexec(["/i", "C:\\older.msi"], "downgrade.log")
    check(code != 0 and "WIX_DOWNGRADE_DETECTED = {" in log and "LaunchConditions。返回值 0" in log,
          "the older package over the newer: exit code %d" % code)
    check((win.products(), win.files()) == before, "the refused package changed the installation")
    print("ok - the older package over the newer release: refused (exit code %d), nothing changed" % code)


def test_shortcut(win):
    """The Start menu's 澄笺 points at the installed program, which starts from there with its window."""
    link = os.path.join(win.profile, *SHORTCUT)
    check(os.path.isfile(link), "no Start menu shortcut 澄笺.lnk")
    code, out = win.ask("link", "C:\\" + os.path.relpath(link, win.wine.c_drive()).replace("/", "\\"))
    fields = dict(line.split(" ", 1) for line in out.splitlines() if " " in line)
    target = win.install + "\\Quillmark.exe"
    check(code == 0 and fields.get("target", "").lower() == target.lower(), "the shortcut's target: %r" % out)
    check(fields.get("folder", "").lower().rstrip("\\") == win.install.lower(), "its folder: %r" % out)
    code, _ = win.ask("start", '"%s"' % fields["target"])
    check(code == 0, "the shortcut's target did not start")
    info = poll("the window of the program started from the shortcut", win.wine.visible_window, timeout=60)
    check(info["client"] == [940, 400], "client area %s" % info["client"])
    print("ok - the Start menu shortcut 澄笺 -> %s (in %s); the program started from it shows %s"
          % (fields["target"], fields.get("folder", ""), TITLE))


def visible_names(desktop):
    out = desktop.x(["xdotool", "search", "--onlyvisible", "--name", "."], check=False) or ""
    names = set()
    for window in out.split():
        info = desktop.info(int(window))
        if info and info["viewable"]:
            names.add(info["name"])
    return names


def test_folder_verb(desktop, win, server, shots):
    """The folder menu's entry, for folders and drives, and its command run as Explorer runs it."""
    for kind in ("Directory", "Drive"):
        key = "HKCU\\Software\\Classes\\%s\\shell\\%s" % (kind, VERB)
        check(win.reg(key) == VERB_TEXT, "%s menu entry %r" % (kind, win.reg(key)))
        command = win.reg(key + "\\command")
        check(command == '"%s\\quillmark-shell.exe" print-folder "%%1"' % win.install,
              "%s menu command %r" % (kind, command))
    root = win.wine.c_drive(DOCS)
    make_tree(win.wine, root, [("封面.docx", "正文"), ("报告\\一月.docx", "正文"),
                               ("报告\\损坏.doc", "standin:damaged")])
    server.reset()
    before = visible_names(desktop)
    # Wine does not show the user's own classes through HKEY_CLASSES_ROOT, so its Explorer would not find
    # the entry: the command is run as Explorer runs it, "%1" replaced by the folder.
    run = subprocess.Popen(["wine", win.helper, "run", command.replace("%1", "C:\\" + DOCS)], env=win.wine.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    others = set()

    def box():
        others.update(visible_names(desktop) - before - {BOX})
        code, out = win.ask("box", BOX)
        return out if code == 0 and out else None

    text = poll("the folder verb's box", box, timeout=120, interval=0.2)
    # Wine shows no console for a console program started from a window program, with or without
    # CREATE_NO_WINDOW, so this sees only other windows (an error box, a Qt window).
    check(not others, "windows shown besides the box: %s" % sorted(others))
    time.sleep(0.5)
    box_info = subprocess.run(["wine", win.wine.wininfo, BOX], env=win.wine.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=60).stdout.decode(errors="replace")
    rect = [int(v) for v in re.search(r"^window (.*)$", box_info, re.M).group(1).split()]
    screenshot_window(desktop, {"window": rect}, os.path.join(shots, "windows-folder-verb.png"))
    body = text.split("text ", 1)[1].rstrip("\n")
    lines = body.splitlines()
    expected = ["部分文档未能打印：" + DOCS, "已打印 2 个文档，未能打印 1 个。",
                "未能打印的文档列在：C:\\%s\\%s" % (DOCS, LIST_NAME)]
    check(all(e in body for e in expected) and "[1/3]" not in body, "the box says %r" % body)
    check(server.printed() == ["C:\\%s\\封面.docx" % DOCS, "C:\\%s\\报告\\一月.docx" % DOCS],
          "printed %s" % server.printed())
    check(os.path.isfile(os.path.join(root, LIST_NAME)), "no failure list in the folder")
    win.ask("box", BOX, "ok")
    out, _ = run.communicate(timeout=60)
    check(re.search(rb"^exit 1\r?$", out, re.M), "the verb's exit: %r" % out)
    print("ok - the folder menu's command printed %s through the stand-in, no other window shown; its box:"
          % ", ".join(server.printed()))
    for line in lines:
        print("     | " + line)


def test_remove(win):
    """msiexec /x with the program running: nothing stays but the settings file."""
    check(len(win.running("Quillmark.exe")) == 1, "the program is not running before the removal")
    for rel, data in UPDATE_LEFTOVERS.items():  # the next self-update came
        path = os.path.join(win.install_dir, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").write(data)
    code, log = win.msiexec(["/x", "C:\\rebuilt.msi"], "remove.log")
    check(code == 0, "msiexec /x: exit code %d\n%s" % (code, log[-2000:]))
    check(win.running("Quillmark.exe") == [], "the program still runs after the removal")
    files = win.files()
    check(files == {"Quillmark.kov": SETTINGS} and win.folders() == [],
          "left in the folder: %s" % (sorted(files) + win.folders()))
    check(not os.path.exists(os.path.join(win.profile, *SHORTCUT)), "the Start menu shortcut is still there")
    keys = ["HKCU\\Software\\Quillmark", "HKCU\\Software\\Classes\\Directory\\shell\\" + VERB,
            "HKCU\\Software\\Classes\\Drive\\shell\\" + VERB]
    check(not [k for k in keys if win.key_exists(k)], "keys left: %s" % [k for k in keys if win.key_exists(k)])
    check(win.reg(RUN_KEY, "Quillmark") is None, "the Run value is still there")
    check(win.products() == [], "still in Apps & features: %r" % win.products())
    cached = [n for n in os.listdir(win.wine.c_drive("windows", "Installer")) if n.lower().endswith(".msi")]
    check(not cached, "the installer's cached package is still there: %s" % cached)
    print("ok - removed with the program running: it was ended; left only Quillmark.kov (byte for byte); no "
          "shortcut, no keys, no Run value, not in Apps & features")
    for line in msiexec_summary(log):
        print("     msiexec: " + line)


def test_registry_clean(win, product_codes):
    """Nothing of the products in the registry's files once Wine has written them out."""
    check(win.wine.run("C:\\standin\\wordstandin.exe", ["/unregserver"]).returncode == 0,
          "the stand-in could not be unregistered")
    win.wine.close()
    packed = [c.strip("{}").replace("-", "") for c in product_codes]
    squished = ["".join(p[:8][::-1] + p[8:12][::-1] + p[12:16][::-1] +
                        "".join(p[i:i + 2][::-1] for i in range(16, 32, 2))) for p in packed]
    words = ["quillmark"] + [c.lower() for c in product_codes + squished]
    found = []
    for name in ("user.reg", "system.reg"):
        key = ""
        for line in open(os.path.join(win.wine.prefix, name), encoding="utf-8", errors="replace"):
            if line.startswith("["):
                key = line.split("]")[0] + "]"
            if any(w in line.lower() for w in words):
                found.append("%s %s %s" % (name, key, line.strip()))
    check(not found, "the registry still names them:\n  " + "\n  ".join(found))
    print("ok - the registry names neither Quillmark nor the products' codes")


def make_package(build, release, out):
    """An installer of this build under another release number, as scripts/package-windows.sh makes it."""
    made = subprocess.run([os.path.join(ROOT, "scripts", "package-windows.sh"), "--msi-only", "--release",
                           str(release), build, out], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=300)
    check(made.returncode == 0,
          "package of release %d not made:\n%s" % (release, made.stdout.decode(errors="replace")))
    return made.stdout.decode().strip().splitlines()[-1]


def product_code(msi):
    out = subprocess.run(["msiinfo", "export", msi, "Property"], stdout=subprocess.PIPE, check=True,
                         timeout=60).stdout.decode()
    return re.search(r"^ProductCode\t(\{[0-9A-F-]+\})", out, re.M).group(1)


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
    if release < 1:
        print("FAIL: release %d has no older release to upgrade from" % release)
        return 1
    os.makedirs(shots, exist_ok=True)
    os.makedirs(work_base, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="msi-e2e.", dir=work_base)
    desktop = Desktop(workdir)
    wine = None
    try:
        older = make_package(build, release - 1, os.path.join(workdir, "older"))
        rebuilt = make_package(build, release, os.path.join(workdir, "rebuilt"))
        desktop.start()
        wine = Wine(desktop, workdir, wininfo)
        boot_with_rpc(wine)
        shutil.copy(older, wine.c_drive("older.msi"))
        shutil.copy(msi, wine.c_drive("new.msi"))
        shutil.copy(rebuilt, wine.c_drive("rebuilt.msi"))
        os.makedirs(wine.c_drive("standin", "logs"))
        shutil.copy(standin, wine.c_drive("standin", "wordstandin.exe"))
        reg = wine.run("C:\\standin\\wordstandin.exe", ["/regserver", "C:\\standin\\logs"])
        check(reg.returncode == 0, "the stand-in could not be registered")
        win = Windows(wine, helper)
        print("ok - a fresh prefix, the stand-in registered; packages %s and %s"
              % (os.path.basename(older), os.path.basename(msi)))
        new_payload = payload(msi, workdir)
        older_payload = payload(older, workdir)
        # Started by Explorer, a console program would open a console window.
        check(pe_subsystem(new_payload["quillmark-shell.exe"]) == 2,
              "quillmark-shell.exe is not a window program")

        test_install_older(win, release)
        imitate_update(win)
        test_run_key_starts_hidden(desktop, win)
        test_upgrade(win, release, older_payload, new_payload)
        report_made(win)
        test_same_version(win, rebuilt, new_payload)
        test_older_refused(win)
        test_shortcut(win)
        test_folder_verb(desktop, win, Server(wine), shots)
        test_remove(win)
        test_registry_clean(win, [product_code(p) for p in (older, msi, rebuilt)])
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as e:
        print("FAIL: %s" % e)
        try:
            desktop.screenshot(os.path.join(shots, "windows-msi-failure.png"))
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError, Failure):
            pass
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
