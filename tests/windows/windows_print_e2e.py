#!/usr/bin/env python3
"""The print path of the Windows package through real COM: the package unpacked into a fresh prefix (code
page 936), the stand-in word processor registered there as "Word.Application", Notepad replaced by a
recording viewer, the program on an Xvfb display with a tray host.

    windows_print_e2e.py ZIP STANDIN VIEWER WININFO SCREENSHOT_DIR WORK_DIR

STANDIN is wordstandin.exe, VIEWER windows_recordingviewer.exe, WININFO windows_wininfo.exe.
Checks: a print run through the window (the server's calls and values, the documents in order, the pause,
the failure list's bytes, the viewer started on it); quitting while Open never returns (the program ends,
no server left); quillmark-print.exe with the stand-in (progress lines, exit codes, password file, the
batch options' calls and the PDFs, a password typed on the console).
Exit code 0 when every check passed, 1 otherwise, 77 when a needed tool is missing.
"""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from windows_desktop_e2e import (TOOLS, Wine, print_logs, run_on_console, screenshot_window, tray_icons,  # noqa: E402
                                 unpack, wait_exit, x_window_of)
from app_desktop_e2e import Failure, check, poll  # noqa: E402

INSTALL = "澄笺 测试"
DOCS = "打印 文档"  # C:\打印 文档
PASSWORD = "mima-2024"
DELAY_MS = 1500
LIST_NAME = "无法设置或修改密码的文件目录.txt"
SERVER = "C:\\standin"

# Relative path (Windows separators), first line. The stand-in reads what a document does from it.
TREE = [
    ("封面.docx", "正文"),
    ("报告\\一月.docx", "正文"),
    ("报告\\加密.docx", "standin:password=" + PASSWORD),
    ("报告\\旧密码.doc", "standin:password=别的密码"),
    ("报告\\~$一月.docx", "Word's lock file"),
    ("附件\\损坏.doc", "standin:damaged"),
    ("附件\\表格.xlsx", "not a document"),
    ("附件\\说明.DOC", "upper-case extension"),
    ("附件\\~$临时\\草稿.docx", "inside a lock folder"),
]


class Server:
    """The stand-in's logs in the prefix."""

    def __init__(self, wine):
        self.folder = wine.c_drive("standin", "logs")

    def reset(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)

    def lines(self, name):
        path = os.path.join(self.folder, name)
        if not os.path.exists(path):
            return []
        return open(path, encoding="utf-8").read().splitlines()

    def timed_calls(self):
        calls = []
        for line in self.lines("calls.log"):
            m = re.match(r"^t=(\d+) (.*)$", line)
            if m and not m.group(2).startswith("server started"):
                calls.append((int(m.group(1)), m.group(2)))
        return calls

    def calls(self):
        return [c for _, c in self.timed_calls()]

    def pids(self):
        return [int(line.rsplit(" ", 1)[1]) for line in self.lines("calls.log") if "server started, pid" in line]

    def printed(self):
        return self.lines("prints.log")


def server_processes(wine):
    """Linux processes of this prefix running the stand-in."""
    return prefix_processes(wine, b"wordstandin.exe")


def boot_with_rpc(wine):
    """Makes the prefix and starts Wine's RPC service, which activating a local server needs. Left to Wine
    (Wine 8), it was asked for while the services were still coming up and failed, and then so did every
    activation ("Failed to start RpcSs service"). Away from the display and asked for until it runs, it
    starts."""
    env = {k: v for k, v in wine.env.items() if k != "DISPLAY"}
    subprocess.run(["wineboot", "-i"], env=dict(env, WINEDLLOVERRIDES="mscoree,mshtml="),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180, check=True)
    for _ in range(15):  # "the service database is locked" while Wine's services start
        result = subprocess.run(["wine", "net", "start", "RpcSs"], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
        if result.returncode == 0 or "已在运行" in result.stdout.decode("gbk", errors="replace"):
            break
        time.sleep(3)
    else:
        raise Failure("Wine's RPC service did not start: %s" % result.stdout.decode("gbk", errors="replace"))
    # The desktop process started without a display cannot show windows: it goes, and the first program
    # on the display starts another.
    for pid in prefix_processes(wine, b"explorer.exe"):
        os.kill(pid, 9)


def prefix_processes(wine, name):
    """Linux processes of this prefix whose command line holds name."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cmdline = open("/proc/%s/cmdline" % pid, "rb").read()
            environ = open("/proc/%s/environ" % pid, "rb").read()
            state = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if name in cmdline and b"WINEPREFIX=" + wine.prefix.encode() + b"\0" in environ and state != "Z":
            found.append(int(pid))
    return found


def make_tree(wine, root, tree):
    for rel, first_line in tree:
        path = os.path.join(root, *rel.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(first_line.encode("utf-8") + b"\r\n")


def listing_order(root, win_root):
    """Documents in the order the program meets them: a folder's files in the order Windows lists them
    (as NTFS, Wine sorts names by their upper-case UTF-16 code units), then its subfolders."""
    out = []
    entries = sorted(os.scandir(root), key=lambda e: e.name.upper().encode("utf-16-be"))
    files = [e for e in entries if e.is_file()]
    dirs = [e for e in entries if e.is_dir() and not e.name.startswith(".")]
    for e in files:
        out.append(win_root + "\\" + e.name)
    for d in dirs:
        out.extend(listing_order(d.path, win_root + "\\" + d.name))
    return out


def printable(path):
    return path.endswith((".doc", ".docx", ".docm")) and "~$" not in path


def open_call(path, password):
    return ('documents method|get Open [VT_BSTR:"%s", VT_BOOL:false, VT_BOOL:false, VT_BOOL:false, '
            'VT_BSTR:"%s", VT_BSTR:"%s", VT_BOOL:true]' % (path, password, password))


def expected_calls(order, opens, password):
    # The collection is counted at the start, before each document and before Quit: documents the run did
    # not open would be the user's.
    count = "documents get Count []"
    calls = ["created", "application get Documents []", count, "application unknown-name SetVisible",
             'application put Visible [#-3=VT_BSTR:"false"]', "application put DisplayAlerts [#-3=VT_BOOL:false]"]
    for path in order:
        calls += [count, open_call(path, password)]
        if opens(path):
            # The page count is Word's own (ComputeStatistics with wdStatisticPages) for the report.
            calls += ["document method|get PrintOut [VT_BOOL:false]", "prints pages 1 of 1, 1 copy: " + path,
                      'document method|get ComputeStatistics [VT_I4:"2"]', "document method|get Close [VT_BOOL:false]"]
    return calls + [count, "application method|get Quit []", "server quits"]


def client_origin(info):
    left, top, right, bottom = info["window"]
    border = ((right - left) - 940) // 2
    return left + border, bottom - 400 - border


def test_print_run(desktop, wine, server, win_dir, app_dir, shots):
    """A run through the window: folder from the settings file, delay and password typed, "全部打印"."""
    root = wine.c_drive(DOCS)
    make_tree(wine, root, TREE)
    win_root = "C:\\" + DOCS
    with open(os.path.join(app_dir, "Quillmark.kov"), "wb") as f:
        f.write(b"sourcePath=" + ("C:/" + DOCS + "/").encode("gbk") + b"\r\n")
    server.reset()

    program = wine.start(win_dir + "\\Quillmark.exe", logname="print-run")
    info = poll("the window", wine.visible_window, timeout=60)
    x0, y0 = client_origin(info)
    poll("the tray icon", lambda: tray_icons(desktop) > 0, timeout=20)
    time.sleep(0.5)
    # Into the folder field, then Tab to the button, the delay and the password.
    desktop.click(x0 + 400, y0 + 76)
    desktop.x(["xdotool", "key", "Tab", "Tab", "ctrl+a", "BackSpace"])
    desktop.x(["xdotool", "type", "--delay", "60", str(DELAY_MS)])
    desktop.x(["xdotool", "key", "Tab", "ctrl+a", "BackSpace"])
    desktop.x(["xdotool", "type", "--delay", "60", PASSWORD])
    time.sleep(0.3)
    screenshot_window(desktop, info, os.path.join(shots, "windows-print-settings.png"))
    started = time.monotonic()
    desktop.click(x0 + 886, y0 + 76)
    poll("the first call on the server", lambda: len(server.calls()) > 5, timeout=60)
    time.sleep(0.8)
    screenshot_window(desktop, wine.visible_window() or info, os.path.join(shots, "windows-print-during.png"))
    poll("the server to quit", lambda: "server quits" in server.calls(), timeout=120, interval=0.2)
    seconds = time.monotonic() - started
    time.sleep(1.5)
    screenshot_window(desktop, wine.visible_window() or info, os.path.join(shots, "windows-print-count.png"))

    order = [p for p in listing_order(root, win_root) if printable(p)]
    fails = {win_root + "\\报告\\旧密码.doc", win_root + "\\附件\\损坏.doc"}
    check(len(order) == 5, "documents found by the listing: %s" % order)
    calls = server.calls()
    expected = expected_calls(order, lambda p: p not in fails, PASSWORD)
    if calls != expected:
        raise Failure("the server's calls differ:\n  got      %s\n  expected %s"
                      % ("\n           ".join(calls), "\n           ".join(expected)))
    print("ok - the server saw exactly the calls and values of a run over %d documents (%.1f s):" % (len(order), seconds))
    for t, call in server.timed_calls():
        print("     t=%d %s" % (t, call))
    printed = [p for p in order if p not in fails]
    check(server.printed() == printed, "printed %s, expected %s" % (server.printed(), printed))
    print("ok - printed in order: %s" % ", ".join(printed))

    # The pause: after each printed document, before the next Open (or Quit).
    timed = server.timed_calls()
    gaps = []
    for i, (t, call) in enumerate(timed):
        if call.endswith("Close [VT_BOOL:false]"):
            nxt = timed[i + 1][0]
            gaps.append(nxt - t)
    check(len(gaps) == 3 and all(g >= DELAY_MS for g in gaps),
          "pauses after the printed documents %s, expected at least %d ms each" % (gaps, DELAY_MS))
    print("ok - the pause after each printed document: %s ms" % gaps)

    list_path = os.path.join(root, LIST_NAME)
    listed = [p for p in order if p in fails]
    expected_bytes = b"".join(p.encode("gbk") + b"\r\n" for p in listed)
    data = open(list_path, "rb").read()
    check(data == expected_bytes, "failure list %r, expected %r" % (data, expected_bytes))
    print("ok - the failure list in code page 936: %r" % data)

    viewer_log = wine.c_drive("windows", "system32", "viewer.log")
    poll("the viewer", lambda: os.path.exists(viewer_log), timeout=20)
    viewer = open(viewer_log, encoding="utf-8").read().splitlines()
    win_list = win_root + "\\" + LIST_NAME
    # Notepad reads everything after its name as the file name, whatever the spaces before it.
    program_name, _, argument = viewer[0][len("command "):].partition(" ")
    check(program_name.lower() == "notepad.exe" and argument.strip() == win_list,
          "viewer started as %r" % viewer[0])
    check(viewer[1] == "bytes " + expected_bytes.hex(), "the viewer read %r" % viewer[1])
    print("ok - the viewer was started as %r and read the list" % viewer[0][len("command "):])
    check(server_processes(wine) == [], "a server is still running after the run")
    return program


def test_quit_while_open_hangs(desktop, wine, server, win_dir, app_dir, program):
    """Closing the program while Open never returns: it ends within its bound, no server left."""
    root = wine.c_drive("挂起")
    make_tree(wine, root, [("1.docx", "正文"), ("子\\2.docx", "standin:hang-open"), ("子\\子\\3.docx", "正文")])
    with open(os.path.join(app_dir, "Quillmark.kov"), "wb") as f:
        f.write(b"sourcePath=" + "C:/挂起/".encode("gbk") + b"\r\n")
    server.reset()
    window = poll("the X window", lambda: x_window_of(desktop), timeout=10)
    desktop.send_close(window)
    wait_exit(program, "the program before the second part")
    program = wine.start(win_dir + "\\Quillmark.exe", logname="hang")
    info = poll("the window", wine.visible_window, timeout=60)
    x0, y0 = client_origin(info)
    desktop.click(x0 + 400, y0 + 76)
    desktop.x(["xdotool", "key", "Tab", "Tab", "ctrl+a", "BackSpace", "0"])
    desktop.click(x0 + 886, y0 + 76)
    poll("Open to hang", lambda: any("open never returns" in c for c in server.calls()), timeout=60)
    check(len(server_processes(wine)) == 1, "no server process found while Open hangs")
    window = poll("the X window", lambda: x_window_of(desktop), timeout=10)
    started = time.monotonic()
    desktop.send_close(window)
    code = wait_exit(program, "the program after closing it during a hanging Open", timeout=60)
    seconds = time.monotonic() - started
    check(code == 0, "exit code %d" % code)
    left = poll("the server to be gone", lambda: server_processes(wine) == [] or None, timeout=5)
    check(left, "the server outlived the program")
    check(server.printed() == ["C:\\挂起\\1.docx"], "printed %s" % server.printed())
    check(not os.path.exists(os.path.join(root, LIST_NAME)), "a failure list after an abort")
    print("ok - closed while Open hung: the program ended after %.1f s (exit 0), the server with it" % seconds)


def test_print_command(wine, server, win_dir):
    """quillmark-print.exe against the stand-in."""
    exe = win_dir + "\\quillmark-print.exe"
    root = wine.c_drive("命令行")
    make_tree(wine, root, [("a.docx", "正文"), ("子\\加密.doc", "standin:password=" + PASSWORD),
                           ("子\\损坏.docx", "standin:damaged")])
    with open(wine.c_drive("pw.txt"), "wb") as f:
        f.write(PASSWORD.encode() + b"\r\n")
    with open(wine.c_drive("wrong.txt"), "wb") as f:
        f.write(b"not-it\r\n")

    def run(args, code):
        server.reset()
        result = wine.run(exe, args, timeout=180)
        out = result.stdout.decode("gbk", errors="replace")
        err = result.stderr.decode("gbk", errors="replace")
        check(result.returncode == code, "quillmark-print %s: exit code %d, expected %d\n%s%s"
              % (" ".join(args), result.returncode, code, out, err))
        return out.splitlines(), err

    order = [p for p in listing_order(root, "C:\\命令行") if printable(p)]
    rel = [p[len("C:\\命令行\\"):] for p in order]
    lines, _ = run(["C:\\命令行", "--password-file", "C:\\pw.txt", "--delay", "100"], 1)
    progress = ["[%d/3] %s" % (i + 1, r) for i, r in enumerate(rel)]
    check(lines[:3] == progress, "progress %r, expected %r" % (lines[:3], progress))
    check("已打印 2 个文档，未能打印 1 个。" in lines, "summary missing: %r" % lines)
    check(server.printed() == [p for p in order if "损坏" not in p], "printed %s" % server.printed())
    print("ok - quillmark-print with --password-file: %s, exit code 1" % " | ".join(lines))

    lines, _ = run(["C:\\命令行", "--password-file", "C:\\wrong.txt"], 1)
    check("已打印 1 个文档，未能打印 2 个。" in lines, "summary with the wrong password: %r" % lines)
    print("ok - the wrong password from a file: %s" % lines[3])

    os.remove(os.path.join(root, "子", "损坏.docx"))
    lines, _ = run(["C:\\命令行", "--password-file", "C:\\pw.txt"], 0)
    check("已打印 2 个文档，未能打印 0 个。" in lines, "summary %r" % lines)
    print("ok - every document printed: exit code 0")
    check(server_processes(wine) == [], "a server is still running after quillmark-print")

    test_batch_options(wine, server, run)

    # A password with a character the ANSI code page lacks, typed on a console (Wine makes one of a
    # terminal): it is read as UTF-16 and reaches the word processor whole.
    typed = "密码ŵ"  # ŵ is not in code page 936
    make_tree(wine, wine.c_drive("控制台"), [("加密.docx", "standin:password=" + typed)])
    server.reset()
    code, _ = run_on_console(wine, [exe, "C:\\控制台", "--ask-password"], "文档密码：", typed)
    check(code == 0 and server.printed() == ["C:\\控制台\\加密.docx"],
          "the password typed on the console: exit code %d, printed %s" % (code, server.printed()))
    print("ok - a non-ASCII password typed on the console opened the document")

    # quillmark-print ended the hard way while Open hangs: the server was put in a job that ends with it.
    make_tree(wine, wine.c_drive("硬结束"), [("挂起.docx", "standin:hang-open")])
    server.reset()
    program = subprocess.Popen(["wine", exe, "C:\\硬结束"], env=wine.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        poll("Open to hang", lambda: any("open never returns" in c for c in server.calls()), timeout=60)
        check(len(server_processes(wine)) == 1, "no server process found while Open hangs")
        for pid in prefix_processes(wine, b"quillmark-print.exe"):
            os.kill(pid, 9)
        program.wait(timeout=30)
        gone = poll("the server to go with quillmark-print", lambda: server_processes(wine) == [] or None,
                    timeout=30)
        check(gone, "the server outlived quillmark-print")
    finally:
        if program.poll() is None:
            program.kill()
    print("ok - quillmark-print killed while Open hung: the server went with it")


def test_batch_options(wine, server, run):
    """--copies, --pages and --pdf through Word's own calls, as the stand-in received them; --duplex
    refused with the reason."""
    make_tree(wine, wine.c_drive("选项"), [("三页.docx", "standin:pages=3"), ("子\\一页.doc", "正文")])
    three, one = "C:\\选项\\三页.docx", "C:\\选项\\子\\一页.doc"
    report = wine.c_drive("选项.csv")
    run(["C:\\选项", "--copies", "2", "--pages", "1-2", "--report", "C:\\选项.csv"], 0)
    work = [c for c in server.calls() if c.startswith(("document method|get PrintOut", "prints "))]
    print_out = ('document method|get PrintOut [VT_BOOL:false, Range=VT_I4:"4", Copies=VT_I4:"2", '
                 'Pages=VT_BSTR:"1-2", Collate=VT_BOOL:false]')
    expected = [print_out, "prints pages 1,2 of 3, 2 copies, not collated: " + three,
                print_out, "prints pages 1 of 1, 2 copies, not collated: " + one]
    check(work == expected, "the server was asked %s, expected %s" % (work, expected))
    rows = {r["path"]: r for r in csv.DictReader(open(report, encoding="utf-8", newline=""))}
    pages = (rows["三页.docx"]["pages"], rows["子/一页.doc"]["pages"])
    check(pages == ("4", "2"), "the report's pages %s, expected 4 and 2 (pages times copies)" % (pages,))
    print("ok - --copies 2 --pages 1-2, the stand-in's log:\n     " + "\n     ".join(work))

    out = wine.c_drive("PDF 输出")
    run(["C:\\选项", "--pdf", "C:\\PDF 输出"], 0)
    work = [c for c in server.calls() if c.startswith(("document method|get Export", "exports "))]
    check(len(work) == 4 and all("VT_I4:\"17\", VT_BOOL:false, KeepIRM=VT_BOOL:false]" in c for c in work[::2]),
          "the server was asked %s" % work)
    made = {}
    for folder, _, names in os.walk(out):
        for name in names:
            data = open(os.path.join(folder, name), "rb").read()
            check(data.startswith(b"%PDF-"), "%s is no PDF" % name)
            made[os.path.relpath(os.path.join(folder, name), out)] = re.findall(rb"stand-in page (\d+) of", data)
    check(made == {"三页.pdf": [b"1", b"2", b"3"], os.path.join("子", "一页.pdf"): [b"1"]},
          "the PDFs made: %s" % made)
    print("ok - --pdf: %s at their relative paths; the stand-in's log:\n     %s"
          % (", ".join(sorted(made)), "\n     ".join(work)))

    lines, err = run(["C:\\选项", "--duplex", "long"], 2)
    check("--duplex" in err and "PrintOut" in err and server.printed() == [], "--duplex: %r %r" % (lines, err))
    print("ok - --duplex refused: %s" % err.strip().splitlines()[0])


def main():
    if len(sys.argv) != 7:
        print(__doc__)
        return 2
    zip_path, standin, viewer, wininfo, shots, work_base = sys.argv[1:]
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return 77
    os.makedirs(shots, exist_ok=True)
    os.makedirs(work_base, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="print-e2e.", dir=work_base)
    from app_desktop_e2e import Desktop
    desktop = Desktop(workdir)
    wine = None
    try:
        desktop.start()
        wine = Wine(desktop, workdir, wininfo)
        # Notepad is the recording viewer; Wine would otherwise keep its own built-in one.
        wine.env["WINEDLLOVERRIDES"] = "notepad.exe=n"
        boot_with_rpc(wine)
        app_dir = unpack(zip_path, wine.c_drive(INSTALL))
        win_dir = "C:\\" + INSTALL + "\\" + os.path.basename(app_dir)
        for folder in ("windows", os.path.join("windows", "system32")):
            shutil.copy(viewer, wine.c_drive(folder, "notepad.exe"))
        os.makedirs(wine.c_drive("standin", "logs"))
        shutil.copy(standin, wine.c_drive("standin", "wordstandin.exe"))
        reg = wine.run(SERVER + "\\wordstandin.exe", ["/regserver", SERVER + "\\logs"])
        check(reg.returncode == 0, "the stand-in could not be registered")
        server = Server(wine)
        print("ok - package unpacked, the stand-in registered as Word.Application, Notepad recording")
        program = test_print_run(desktop, wine, server, win_dir, app_dir, shots)
        test_quit_while_open_hangs(desktop, wine, server, win_dir, app_dir, program)
        test_print_command(wine, server, win_dir)
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as e:
        print("FAIL: %s" % e)
        try:
            desktop.screenshot(os.path.join(shots, "windows-print-failure.png"))
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError):
            pass
        if wine:
            for name in ("calls.log", "prints.log"):
                path = wine.c_drive("standin", "logs", name)
                if os.path.exists(path):
                    print("--- stand-in %s" % name)
                    print(open(path, encoding="utf-8", errors="replace").read()[-3000:])
        print_logs(workdir)
        return 1
    finally:
        if wine:
            for pid in server_processes(wine):
                os.kill(pid, 9)
            wine.close()
        desktop.close()
        shutil.rmtree(workdir, ignore_errors=True)
    print("all Windows print checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
