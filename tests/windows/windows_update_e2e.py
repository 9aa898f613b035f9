#!/usr/bin/env python3
"""The self-update of the Windows program under Wine, end to end: the package unpacked into a fresh
prefix, its Quillmark.exe replaced by the build with the loopback update servers and the test release
key; a release server on 127.0.83.1:80 offers a signed package with a newer Quillmark.exe. The program
asks, downloads (URLOpenBlockingStreamA into a file of its own), checks the signature, swaps itself while it runs, shows
"成功升级新版本!", and after the box is closed the new executable runs and finds itself current.

    windows_update_e2e.py ZIP LOOPBACK_PROGRAM RELEASE_TOOL KEY_PEM RELEASE SDK WININFO SCREENSHOT_DIR WORK_DIR

RELEASE_TOOL is the Windows build of quillmark_release (run under Wine with the SDK's DLLs); RELEASE the
release number built into LOOPBACK_PROGRAM (the package is signed as the next one).
Exit code 0 when every check passed, 1 otherwise, 77 when a tool is missing or port 80 cannot be bound.
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "system"))
sys.path.insert(0, here)
from app_desktop_e2e import Desktop, Failure, check, poll  # noqa: E402
from windows_desktop_e2e import TOOLS, Wine, print_logs, unpack, wait_exit, x_window_of  # noqa: E402

SERVER = "127.0.83.1"
BOX_TITLE = "注意："


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def requests(log):
    try:
        return open(log).read().splitlines()
    except FileNotFoundError:
        return []


def main():
    if len(sys.argv) != 10:
        print(__doc__)
        return 2
    zip_path, loopback, release_tool, key, release, sdk, wininfo, shots, work_base = sys.argv[1:]
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return 77
    os.makedirs(shots, exist_ok=True)
    os.makedirs(work_base, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="update-e2e.", dir=work_base)
    srv = os.path.join(workdir, "srv")
    os.makedirs(srv)
    server = subprocess.Popen([sys.executable, os.path.join(here, "..", "system", "update_release_server.py"),
                               SERVER, "80", srv], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 10
    while not os.path.exists(os.path.join(srv, "ready")):
        if server.poll() is not None or time.monotonic() > deadline:
            print("SKIP: no release server on %s:80: %s" % (SERVER, server.stderr.read().decode()))
            return 77
        time.sleep(0.1)

    desktop = Desktop(workdir)
    wine = None
    try:
        desktop.start()
        wine = Wine(desktop, workdir, wininfo)
        wine.boot()
        app_dir = unpack(zip_path, wine.c_drive("澄笺 更新"))
        win_dir = "C:\\澄笺 更新\\" + os.path.basename(app_dir)
        exe = os.path.join(app_dir, "Quillmark.exe")
        shutil.copyfile(loopback, exe)
        original = open(exe, "rb").read()

        # The release: the same program with bytes of its own at the end (a different digest, still a
        # program that runs) and the next release number in place of its own, as the next release's build
        # would carry it; and a read-me; signed with the test key.
        marker = b"quillmark-release-identity:release="
        own, nxt = str(int(release)).encode(), str(int(release) + 1).encode()
        check(len(own) == len(nxt) and original.count(marker + own + b";") == 1,
              "the program carries no single identity of release %s" % release)
        new = original.replace(marker + own + b";", marker + nxt + b";") + b"\r\nquillmark release 2\r\n"
        package = os.path.join(srv, "Quillmark.zip")
        with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("Quillmark.exe", new)
            z.writestr("readme.txt", b"new release notes\r\n")
        env = dict(wine.env, WINEPATH=windows_path(os.path.join(sdk, "bin")))
        signing = subprocess.run(["wine", release_tool, "sign", "--release", str(int(release) + 1),
                                  windows_path(key), windows_path(package)],
                                 env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        check(signing.returncode == 0, "signing failed: %s" % signing.stdout.decode(errors="replace"))
        new_md5 = hashlib.md5(new).hexdigest()
        with open(os.path.join(srv, "version.json"), "w") as f:
            f.write('{"name":"Quillmark","Quillmark":"%s","size":1}' % new_md5)
        print("ok - a signed release on %s:80 (Quillmark.exe %s)" % (SERVER, new_md5))

        log = os.path.join(srv, "requests.log")
        start = int(time.time())
        first = wine.start(win_dir + "\\Quillmark.exe", logname="first")

        def box():
            result = subprocess.run(["wine", wininfo, BOX_TITLE], env=wine.env, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, timeout=60)
            return result.returncode == 0 and b"visible 1" in result.stdout

        poll("the box after the update", box, timeout=120, interval=1)
        gets = [r for r in requests(log) if r.startswith("GET ")]
        check(any(r.startswith("POST ") for r in requests(log)), "no version request")
        check(len(gets) == 1, "expected one download, saw %s" % gets)
        m = re.match(r"^GET /quillmark/Quillmark\.zip\?t=([0-9]+)$", gets[0])
        check(m is not None, "download address: %s" % gets[0])
        stamp = int(m.group(1)[::-1])
        check(start - 5 <= stamp <= time.time() + 5, "?t= is not the time with its digits reversed: %s" % gets[0])
        check(open(exe, "rb").read() == new, "the new Quillmark.exe is not in place")
        backup = os.path.join(app_dir, "Quillmark_old")
        check(os.path.exists(backup) and open(backup, "rb").read() == original,
              "the backup Quillmark_old is not the old program: %s" % sorted(os.listdir(app_dir)))
        check(open(os.path.join(app_dir, "readme.txt"), "rb").read() == b"new release notes\r\n",
              "the package's read-me was not unpacked")
        leftovers = [n for n in os.listdir(app_dir) if n.startswith("Quillmark_update") or n == "Quillmark.zip"]
        check(not leftovers, "left behind: %s" % leftovers)
        desktop.screenshot(os.path.join(shots, "windows-update-box.png"))
        print("ok - downloaded (%s), checked, swapped while running; backup Quillmark_old; box shown" % gets[0])

        box_window = poll("the box's X window", lambda: (desktop.x(
            ["xdotool", "search", "--onlyvisible", "--name", "^" + BOX_TITLE + "$"], check=False) or "").split(),
            timeout=10)[0]
        desktop.x(["xdotool", "windowfocus", box_window, "key", "--clearmodifiers", "Return"], check=False)
        wait_exit(first, "the program after its box was closed", timeout=30)
        info = poll("the new executable's window", wine.visible_window, timeout=60)
        poll("the new executable's version request",
             lambda: sum(r.startswith("POST ") for r in requests(log)) >= 2, timeout=60)
        time.sleep(3)
        gets = [r for r in requests(log) if r.startswith("GET ")]
        check(len(gets) == 1, "the current program downloaded again: %s" % gets)
        print("ok - the new executable was started (process %d), finds itself current, downloads nothing"
              % info["process"][0])
        window = poll("the X window", lambda: x_window_of(desktop), timeout=10)
        desktop.send_close(window)
        poll("the new executable to end", lambda: wine.window() is None, timeout=20)
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
        print("FAIL: %s" % e)
        print("--- requests: %s" % requests(os.path.join(srv, "requests.log")))
        print_logs(workdir)
        return 1
    finally:
        if wine:
            wine.close()
        desktop.close()
        server.terminate()
        server.wait()
        shutil.rmtree(workdir, ignore_errors=True)
    print("the update under Wine passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
