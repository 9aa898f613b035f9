#!/usr/bin/env python3
"""quillmark-print against real LibreOffice and the private print server of scripts/printserver.sh.

    print_cli_system.py QUILLMARK_PRINT SOURCE_DIR [DOCMAKER [NOHARDLINKS]]

DOCMAKER makes the encrypted Word documents of the batch tests (tests/system/print_docmaker_tool.cpp);
NOHARDLINKS is the preloaded library that stands for a file system without hard links
(tests/system/nohardlinks.cpp). The weekly-folder cases are in print_cli_weekly.py.

Pages are read back with pdftotext. Exit code 0 when every check passed, 1 otherwise, 77 when a needed
tool is missing.
"""

import csv
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_desktop_e2e import make_docx  # noqa: E402

FAILURE_LIST = "无法设置或修改密码的文件目录.txt"
ENCRYPTED_PASSWORD = "Password1234_"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(what, probe, timeout=30.0):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


class Server:
    """The private print server with its default queue "capture" and a second queue "second"."""

    def __init__(self, scripts, root):
        self.script = os.path.join(scripts, "printserver.sh")
        self.dir = os.path.join(root, "cups")
        self.out = os.path.join(root, "captured")
        self.second_out = os.path.join(root, "captured-second")
        os.makedirs(self.dir)
        started = subprocess.run([self.script, "start", self.dir, self.out], stdout=subprocess.PIPE,
                                 timeout=90)
        check(started.returncode == 0, "the private print server did not start")
        self.socket = re.search(r"CUPS_SERVER=(\S+)", started.stdout.decode()).group(1)
        added = subprocess.run([self.script, "add-queue", self.dir, "second", self.second_out], timeout=60)
        check(added.returncode == 0, "the second queue was not added")

    def wait(self):
        subprocess.run([self.script, "wait", self.dir, "60"], timeout=90)

    def texts(self, out=None, since=0):
        """The captured jobs' texts in job order, from the since-th job on."""
        out = out or self.out
        names = sorted(n for n in os.listdir(out) if n.endswith(".pdf"))[since:]
        return [subprocess.run(["pdftotext", os.path.join(out, n), "-"], stdout=subprocess.PIPE,
                               timeout=30).stdout.decode().strip() for n in names]

    def count(self, out=None):
        return len([n for n in os.listdir(out or self.out) if n.endswith(".pdf")])

    def stop(self):
        subprocess.run([self.script, "stop", self.dir], timeout=60)


class Runner:
    def __init__(self, program, root, server):
        self.program = program
        self.tag = "quillmark-cli-%d-%d" % (os.getpid(), time.monotonic_ns())
        self.env = dict(os.environ)
        for name in ("PRINTER", "LPDEST", "QUILLMARK_PASSWORD", "DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME"):
            self.env.pop(name, None)
        self.env.update(CUPS_SERVER=server.socket, LANG="C.UTF-8", LC_ALL="C.UTF-8",
                        HOME=os.path.join(root, "home"), QUILLMARK_CLI_TAG=self.tag)
        os.makedirs(self.env["HOME"], exist_ok=True)

    def start(self, args, env=None):
        merged = dict(self.env)
        merged.update(env or {})
        return subprocess.Popen([self.program] + args, env=merged, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run(self, args, env=None, timeout=180):
        process = self.start(args, env)
        out, err = process.communicate(timeout=timeout)
        return process.returncode, out.decode(), err.decode()

    def leftovers(self):
        """Processes other than quillmark-print that carry this run's tag: the office and its helpers."""
        found = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if ("QUILLMARK_CLI_TAG=" + self.tag).encode() not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/stat" % pid) as f:
                    stat = f.read()
            except OSError:
                continue
            name = stat[stat.index("(") + 1:stat.rindex(")")]
            if name != "quillmark-print" and stat.rsplit(")", 1)[1].split()[0] != "Z":
                found.append("%s %s" % (pid, name))
        return found


def make_tree(folder, items):
    """items: relative path -> text (a .docx with that text) or bytes (written as they are)."""
    for relative, content in items.items():
        path = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, bytes):
            with open(path, "wb") as f:
                f.write(content)
        else:
            make_docx(path, content)
    return folder


def test_tree_in_order(runner, server, root):
    docs = make_tree(os.path.join(root, "tree"), {
        "b.docx": "page bravo", "A.docx": "page alpha", "notes.txt": b"not a document\n",
        "报告/三月.docx": "page march", "sub dir/c.docx": "page charlie", "~$owner.docx": b"lock"})
    before = server.count()
    code, out, err = runner.run([docs])
    check(code == 0, "exit code %d (%s)" % (code, err))
    lines = out.splitlines()
    check(lines[:4] == ["[1/4] A.docx", "[2/4] b.docx", "[3/4] sub dir/c.docx", "[4/4] 报告/三月.docx"],
          "progress %r" % lines)
    check(lines[4:] == ["已打印 4 个文档，未能打印 0 个。"], "summary %r" % lines[4:])
    server.wait()
    texts = server.texts(since=before)
    check(texts == ["page alpha", "page bravo", "page charlie", "page march"], "printed %r" % texts)
    check(not os.path.exists(os.path.join(docs, FAILURE_LIST)), "a failure list was written")
    print("ok - a tree prints in order, page by page; progress lines relative to the folder; exit 0")

    # A reader that goes away at once (as with "| head -1") does not end the run half-way.
    before = server.count()
    process = runner.start([docs])
    process.stdout.close()
    process.wait(timeout=180)
    check(process.returncode == 0, "with its output closed: exit code %d" % process.returncode)
    server.wait()
    check(server.count() - before == 4, "with its output closed: %d jobs" % (server.count() - before))
    print("ok - a closed output does not cut the run short")


def test_failures(runner, server, root):
    docs = make_tree(os.path.join(root, "broken"), {"a.docx": "page one", "b.docx": b"no zip file",
                                                    "c.docx": "page three"})
    before = server.count()
    code, out, err = runner.run([docs, "--quiet"])
    check(code == 1, "exit code %d, expected 1 (%s)" % (code, err))
    check(out == "", "--quiet printed %r" % out)
    with open(os.path.join(docs, FAILURE_LIST), "rb") as f:
        check(f.read() == (os.path.join(docs, "b.docx") + "\n").encode(), "failure list")
    server.wait()
    check(server.texts(since=before) == ["page one", "page three"], "printed pages")
    print("ok - a broken document: exit 1, listed in the failure list, the others printed; --quiet is silent")


def watch_cmdlines(secret, stop, seen, tag=None):
    """Scans every process's command line until stop is set; notes any that holds the secret. With a tag,
    also the environment of the processes quillmark-print started (its own still shows what it was
    started with)."""
    needle = secret.encode()
    while not stop.is_set():
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                if needle in cmdline:
                    seen.append(pid + " cmdline")
                if tag and not cmdline.split(b"\0")[0].endswith(b"quillmark-print"):
                    with open("/proc/%s/environ" % pid, "rb") as f:
                        environ = f.read().split(b"\0")
                    if ("QUILLMARK_CLI_TAG=" + tag).encode() in environ and \
                            any(needle in entry for entry in environ):
                        seen.append(pid + " environ")
            except OSError:
                pass
        time.sleep(0.02)


def test_passwords(runner, server, root, source):
    encrypted = os.path.normpath(os.path.join(source, "..", "shared", "testdata", "office-encrypted"))
    if not os.path.isdir(encrypted):
        print("skip - passwords: %s is not there" % encrypted)
        return
    docs = os.path.join(root, "secret")
    os.makedirs(docs)
    for name in ("example_password.docx", "rc4cryptoapi_password.doc"):
        shutil.copy(os.path.join(encrypted, name), docs)
    password_file = os.path.join(root, "password.txt")
    with open(password_file, "w") as f:
        f.write(ENCRYPTED_PASSWORD + "\n")
    os.chmod(password_file, 0o600)

    # The watcher can see a secret on a command line at all.
    stop, seen = threading.Event(), []
    watcher = threading.Thread(target=watch_cmdlines, args=(ENCRYPTED_PASSWORD, stop, seen))
    watcher.start()
    subprocess.run(["sh", "-c", "sleep 0.3", "sh", ENCRYPTED_PASSWORD], timeout=10)
    stop.set()
    watcher.join()
    check(seen, "the command-line watcher missed a process that carried the secret")

    cases = [("password file", ["--password-file", password_file], {}, 0),
             ("environment", [], {"QUILLMARK_PASSWORD": ENCRYPTED_PASSWORD}, 0),
             ("wrong password in the environment", [], {"QUILLMARK_PASSWORD": "wrong"}, 1),
             ("no password", [], {}, 1)]
    for name, args, env, expected in cases:
        before = server.count()
        stop, seen = threading.Event(), []
        watcher = threading.Thread(target=watch_cmdlines, args=(ENCRYPTED_PASSWORD, stop, seen, runner.tag))
        watcher.start()
        try:
            code, out, err = runner.run([docs] + args, env=env)
        finally:
            stop.set()
            watcher.join()
        check(not seen, "%s: the password was seen in %s" % (name, sorted(set(seen))))
        check(code == expected, "%s: exit code %d, expected %d (%s)" % (name, code, expected, err))
        server.wait()
        printed = server.count() - before
        check(printed == (2 if expected == 0 else 0), "%s: %d jobs" % (name, printed))
        listed = os.path.exists(os.path.join(docs, FAILURE_LIST))
        check(listed == (expected == 1), "%s: failure list %s" % (name, "written" if listed else "missing"))
        print("ok - password, %s: exit %d, %d documents printed, never on a command line nor in the office's environment"
              % (name, code, printed))


def test_password_from_terminal(runner, server, root, source):
    encrypted = os.path.normpath(os.path.join(source, "..", "shared", "testdata", "office-encrypted"))
    if not os.path.isdir(encrypted):
        print("skip - --ask-password: %s is not there" % encrypted)
        return
    docs = os.path.join(root, "typed")
    os.makedirs(docs)
    shutil.copy(os.path.join(encrypted, "example_password.docx"), docs)
    master, slave = os.openpty()
    env = dict(runner.env)
    process = subprocess.Popen([runner.program, docs, "--ask-password"], env=env, stdin=slave,
                               stdout=subprocess.PIPE, stderr=slave, start_new_session=True)
    os.close(slave)
    screen = b""
    def read_screen(until, timeout=30):
        nonlocal screen
        deadline = time.monotonic() + timeout
        while until not in screen and time.monotonic() < deadline:
            ready = select.select([master], [], [], 0.2)[0]
            if ready:
                try:
                    screen += os.read(master, 4096)
                except OSError:
                    break
        return until in screen
    check(read_screen("文档密码：".encode()), "no password prompt on the terminal: %r" % screen)
    before = server.count()
    os.write(master, (ENCRYPTED_PASSWORD + "\n").encode())
    out, _ = process.communicate(timeout=180)
    read_screen(b"\0", timeout=0.5)
    os.close(master)
    check(process.returncode == 0, "--ask-password: exit code %d (%r)" % (process.returncode, screen))
    check(ENCRYPTED_PASSWORD.encode() not in screen, "the typed password was echoed: %r" % screen)
    server.wait()
    check(server.count() - before == 1, "--ask-password: %d jobs" % (server.count() - before))
    print("ok - --ask-password: prompt on the terminal, nothing echoed, the document printed")


def test_printer(runner, server, root):
    docs = make_tree(os.path.join(root, "to-second"), {"x.docx": "page for the second queue"})
    before_default, before_second = server.count(), server.count(server.second_out)
    code, out, err = runner.run([docs, "--printer", "second"])
    check(code == 0, "--printer second: exit code %d (%s)" % (code, err))
    server.wait()
    check(server.texts(server.second_out, since=before_second) == ["page for the second queue"],
          "the second queue did not get the page")
    check(server.count() == before_default, "the default queue got a job too")
    print("ok - --printer sends the documents to the named queue, not the default one")

    code, out, err = runner.run([docs, "--printer", "nowhere"])
    check(code == 2 and "找不到打印机：nowhere" in err, "unknown printer: exit %d, %r" % (code, err))
    check(server.count() == before_default and server.count(server.second_out) == before_second + 1,
          "an unknown printer still printed")
    print("ok - an unknown --printer: exit 2 with a clear message, nothing printed")


def test_nothing_printable(runner, root):
    docs = make_tree(os.path.join(root, "fine"), {"a.docx": "page"})
    cases = [("missing folder", [os.path.join(root, "no such folder")], {}, "文件夹不存在"),
             ("no print server", [docs], {"CUPS_SERVER": os.path.join(root, "none.sock")}, "无法连接打印服务"),
             ("password on the command line", [docs, "--password", "x"], {}, "密码不能写在命令行上"),
             ("unreadable password file", [docs, "--password-file", os.path.join(root, "none.txt")], {},
              "无法读取密码文件")]
    for name, args, env, message in cases:
        code, out, err = runner.run(args, env=env)
        check(code == 2, "%s: exit code %d, expected 2" % (name, code))
        check(message in err, "%s: stderr %r" % (name, err))
        check(not runner.leftovers(), "%s: left %s" % (name, runner.leftovers()))
        print("ok - %s: exit 2, %s" % (name, message))


def test_unconfirmed(runner, server, root):
    """A queue that holds its jobs past the (shortened) wait: the documents went to the printer, but
    whether they printed is not known. Not counted, not failed: a line each, marked in the list, exit 1."""
    docs = make_tree(os.path.join(root, "held"), {"a.docx": "held page one", "sub/b.docx": "held page two"})
    before = server.count()
    subprocess.run([server.script, "hold", server.dir], timeout=60, check=True)
    try:
        code, out, err = runner.run([docs], env={"QUILLMARK_JOB_WAIT_SECONDS": "3"})
        check(code == 1, "exit code %d, expected 1 (%s)" % (code, err))
        lines = out.splitlines()
        check(lines[2:] == ["已打印 0 个文档，未能打印 0 个。", "未能确认是否已打印：a.docx",
                            "未能确认是否已打印：sub/b.docx",
                            "未能打印的文档列在：" + os.path.join(docs, FAILURE_LIST)],
              "summary %r" % lines)
        with open(os.path.join(docs, FAILURE_LIST), "rb") as f:
            listed = f.read().decode()
        check(listed == "[未确认] %s\n[未确认] %s\n" % (os.path.join(docs, "a.docx"), os.path.join(docs, "sub", "b.docx")),
              "failure list %r" % listed)
        check(server.count() == before, "a held job printed")
    finally:
        subprocess.run([server.script, "release", server.dir], timeout=60)
    server.wait()
    check(server.texts(since=before) == ["held page one", "held page two"], "after the release: %r"
          % server.texts(since=before))
    print("ok - jobs held past the wait: exit 1, a line per unconfirmed document, marked in the list; "
          "left in the queue, they print once released")


def test_interrupt(runner, server, root):
    docs = make_tree(os.path.join(root, "long"), {"1.docx": "first", "2.docx": "second", "3.docx": "third"})
    for sig in (signal.SIGINT, signal.SIGTERM):
        before = server.count()
        # The longest pause there is, two minutes: a run that sat it out outlasts the wait below.
        process = runner.start([docs, "--delay", "120000"])
        poll("the first document to be printed", lambda: server.count() > before, timeout=120)
        check(runner.leftovers(), "no office process found while printing")
        process.send_signal(sig)
        try:
            out, err = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("%s did not cut the pause short" % sig.name)
        check(process.returncode == 130, "%s: exit code %d" % (sig.name, process.returncode))
        check(not runner.leftovers(), "%s: left %s" % (sig.name, runner.leftovers()))
        check("打印已中止" in err.decode(), "%s: stderr %r" % (sig.name, err.decode()))
        server.wait()
        check(server.count() - before == 1, "%s: %d jobs" % (sig.name, server.count() - before))
        print("ok - %s during the pause: exit 130, no office left, nothing more printed" % sig.name)


def test_folder_action(runner, server, root, source, program):
    # The installed layout: the action two folders below the program.
    base = os.path.join(root, "installed")
    os.makedirs(os.path.join(base, "share", "quillmark"))
    action = os.path.join(base, "share", "quillmark", "folder-action")
    shutil.copy(os.path.join(source, "resources", "desktop", "folder-action.sh"), action)
    os.chmod(action, 0o755)
    os.symlink(program, os.path.join(base, "quillmark-print"))
    tools = os.path.join(root, "tools")
    os.makedirs(tools)
    record = os.path.join(root, "shown.txt")
    # Stand-ins for the desktop's notification and dialog tools: they note what they were asked to show.
    def tool(name, code):
        with open(os.path.join(tools, name), "w") as f:
            f.write("#!/bin/sh\n{ printf '%%s|' %s \"$@\" | tr '\\n' ' '; echo; } >>'%s'\nexit %d\n"
                    % (name, record, code))
        os.chmod(os.path.join(tools, name), 0o755)
    docs = make_tree(os.path.join(root, "chosen folder"), {"a.docx": "from the file manager"})
    path = tools + ":/usr/bin:/bin"
    for name, notify_code in (("notification", 0), ("dialog where no notification service answers", 1)):
        for t in ("notify-send", "zenity"):
            if os.path.exists(os.path.join(tools, t)):
                os.remove(os.path.join(tools, t))
        tool("notify-send", notify_code)
        tool("zenity", 0)
        if os.path.exists(record):
            os.remove(record)
        before = server.count()
        env = dict(runner.env, PATH=path)
        result = subprocess.run([action, docs], env=env, timeout=180, stdin=subprocess.DEVNULL)
        check(result.returncode == 0, "%s: the action exited %d" % (name, result.returncode))
        server.wait()
        check(server.texts(since=before) == ["from the file manager"], "%s: printed pages" % name)
        with open(record) as f:
            shown = f.read().splitlines()
        shown = [line for line in shown if not (notify_code and line.startswith("notify-send|"))]
        check(len(shown) == 1 and "打印完成：chosen folder" in shown[0] and "已打印 1 个文档" in shown[0],
              "%s: shown %r" % (name, shown))
        check(shown[0].startswith("notify-send|" if notify_code == 0 else "zenity|"), "%s: by %r" % (name, shown))
        print("ok - folder action, %s: printed and shown %r" % (name, shown[0]))


BATCH_PASSWORDS = {"一月.doc": "alpha-1", "报告/三月.doc": "bravo-2", "报告/四月.doc": "charlie-3"}
BATCH_TEXTS = {"plain.docx": "plain page", "一月.doc": "alpha january", "报告/三月.doc": "bravo march",
               "报告/四月.doc": "charlie april"}
# The folder's print order: a folder's own files by name before its subfolders.
BATCH_ORDER = ["plain.docx", "two.docx", "一月.doc", "损坏.docx", "报告/三月.doc", "报告/四月.doc"]


def make_batch(root, docmaker):
    """Documents under three passwords (encrypted by LibreOffice itself), one without, one of two pages and
    a damaged one."""
    docs = os.path.join(root, "batch")
    sources = os.path.join(root, "batch-sources")
    os.makedirs(os.path.join(docs, "报告"))
    os.makedirs(sources)
    make_docx(os.path.join(docs, "plain.docx"), BATCH_TEXTS["plain.docx"])
    make_docx(os.path.join(docs, "two.docx"),
              'first page</w:t></w:r><w:r><w:br w:type="page"/></w:r><w:r><w:t>second page')
    with open(os.path.join(docs, "损坏.docx"), "wb") as f:
        f.write(b"PK\x03\x04" + bytes(range(256)) * 8)
    args = []
    for number, (name, password) in enumerate(BATCH_PASSWORDS.items()):
        source = os.path.join(sources, "%d.docx" % number)
        make_docx(source, BATCH_TEXTS[name])
        args += [source, os.path.join(docs, name), password]
    made = subprocess.run([docmaker] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=180)
    check(made.returncode == 0, "encrypted documents not made: %s" % made.stdout.decode(errors="replace"))
    for name in BATCH_PASSWORDS:
        with open(os.path.join(docs, name), "rb") as f:
            check(BATCH_TEXTS[name].encode() not in f.read(), name + " is not encrypted")
    passwords = os.path.join(root, "passwords.txt")
    with open(passwords, "w", encoding="utf-8") as f:
        f.write("wrong\nalpha-1\n\nbravo-2\ncharlie-3\n")
    return docs, passwords


def queue_empty(server):
    listed = subprocess.run(["lpstat", "-o"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, CUPS_SERVER=server.socket), timeout=30)
    return listed.stdout.strip() == b""


def json_rows(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def csv_rows(path):
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.DictReader(f))


def test_check(runner, server, root, docs, passwords):
    before = server.count()
    report = os.path.join(root, "check.json")
    code, out, err = runner.run([docs, "--check", "--passwords-file", passwords, "--report", report])
    check(code == 1, "exit code %d, expected 1 (%s)" % (code, err))
    expected = ["[1/6] plain.docx：可以打开",
                "[2/6] two.docx：可以打开",
                "[3/6] 一月.doc：可以打开（已加密，密码文件第 2 行）",
                "[4/6] 损坏.docx：已损坏或不是 Word 文档",
                "[5/6] 报告/三月.doc：可以打开（已加密，密码文件第 4 行）",
                "[6/6] 报告/四月.doc：可以打开（已加密，密码文件第 5 行）",
                "共 6 个文档：5 个可以打开（3 个已加密），1 个无法打开。",
                "报告：" + report]
    check(out.splitlines() == expected, "check printed %r" % out.splitlines())
    rows = json_rows(report)
    check([r["path"] for r in rows] == BATCH_ORDER, "report paths %r" % rows)
    check([r["outcome"] for r in rows] == ["opens", "opens", "opens", "damaged", "opens", "opens"],
          "report outcomes %r" % rows)
    # Documents without a password open with the file's empty line (line 3); the others name their line.
    check([r["password_line"] for r in rows] == [3, 3, 2, None, 4, 5], "password lines %r" % rows)
    check(all(r["job_id"] is None for r in rows), "a check with a job: %r" % rows)
    with open(report, "rb") as f:
        check(not any(p.encode() in f.read() for p in BATCH_PASSWORDS.values()), "a password in the report")
    time.sleep(1)
    check(server.count() == before and queue_empty(server), "a check queued a job")
    check(not os.path.exists(os.path.join(docs, FAILURE_LIST)), "a check wrote a failure list")

    code, out, err = runner.run([docs, "--check"])
    check(code == 1 and out.splitlines()[-1] == "共 6 个文档：2 个可以打开（0 个已加密），4 个无法打开。",
          "without passwords: %d %r" % (code, out))
    check(out.count("需要密码，所给的密码都打不开") == 3, "wrong-password lines %r" % out)
    print("ok - --check: each document's outcome, the summary, exit 1, nothing queued, no failure list")


def test_print_with_passwords(runner, server, root, docs, passwords):
    before = server.count()
    report = os.path.join(root, "print.csv")
    code, out, err = runner.run([docs, "--passwords-file", passwords, "--report", report])
    check(code == 1, "exit code %d, expected 1 (%s)" % (code, err))
    server.wait()
    texts = server.texts(since=before)
    check(texts == ["plain page", "first page\n\n\x0csecond page", "alpha january", "bravo march", "charlie april"],
          "printed %r" % texts)
    rows = csv_rows(report)
    check([r["path"] for r in rows] == BATCH_ORDER, "report paths %r" % rows)
    check([r["outcome"] for r in rows] == ["printed", "printed", "printed", "damaged", "printed", "printed"],
          "report outcomes %r" % rows)
    check([r["password_line"] for r in rows] == ["3", "3", "2", "", "4", "5"], "password lines %r" % rows)
    jobs = [int(r["job_id"]) for r in rows if r["outcome"] == "printed"]
    check(len(set(jobs)) == 5 and jobs == sorted(jobs), "job ids %r" % jobs)
    check(rows[1]["pages"] == "2" and rows[0]["pages"] == "1", "page counts %r" % rows)
    check(all(float(r["seconds"]) >= 0 for r in rows) and rows[0]["path_hex"] == "", "seconds %r" % rows)
    with open(os.path.join(docs, FAILURE_LIST), "rb") as f:
        check(f.read() == (os.path.join(docs, "损坏.docx") + "\n").encode(), "failure list")
    print("ok - a passwords file: every encrypted document printed once, in order; the csv report read back")


def test_print_options(runner, server, root, docs):
    listed = os.path.join(root, "two.txt")
    with open(listed, "w", encoding="utf-8") as f:
        f.write("two.docx\n")
    before = server.count()
    code, out, err = runner.run([docs, "--from-list", listed, "--copies", "2", "--pages", "1", "--collate",
                                 "--duplex", "long"])
    check(code == 0, "exit code %d (%s)" % (code, err))
    server.wait()
    names = sorted(n for n in os.listdir(server.out) if n.endswith(".pdf"))[before:]
    check(len(names) == 1, "one job for two copies: %r" % names)
    job = os.path.join(server.out, names[0])
    check(server.texts(since=before) == ["first page"], "page 1 only: %r" % server.texts(since=before))
    info = subprocess.run(["pdfinfo", job], stdout=subprocess.PIPE, timeout=30).stdout.decode()
    check(re.search(r"^Pages:\s+1$", info, re.M), "pages of the job: %s" % info)
    with open(job + ".copies") as f:
        check(f.read().strip() == "2", "copies of the job")
    check(out.splitlines()[-1] == "已打印 1 个文档，未能打印 0 个。", "summary %r" % out)
    print("ok - --copies 2 --pages 1: one job of page 1 for two copies, counted once")


def test_pdf(runner, server, root, docs, passwords):
    out_dir = os.path.join(root, "pdf")
    os.makedirs(out_dir)
    kept = os.path.join(out_dir, "plain.pdf")
    with open(kept, "wb") as f:
        f.write(b"mine")
    before = server.count()
    report = os.path.join(root, "pdf.json")
    code, out, err = runner.run([docs, "--pdf", out_dir, "--passwords-file", passwords, "--report", report])
    check(code == 1, "exit code %d, expected 1 (%s)" % (code, err))
    with open(kept, "rb") as f:
        check(f.read() == b"mine", "an existing PDF was overwritten")
    check("[1/6] plain.docx：PDF 已存在，未覆盖" in out.splitlines(), "skipped line %r" % out)
    for name, text in list(BATCH_TEXTS.items())[1:]:
        pdf = os.path.join(out_dir, os.path.splitext(name)[0] + ".pdf")
        got = subprocess.run(["pdftotext", pdf, "-"], stdout=subprocess.PIPE, timeout=30).stdout.decode().strip()
        check(got == text, "%s reads %r" % (pdf, got))
        info = subprocess.run(["pdfinfo", pdf], stdout=subprocess.PIPE, timeout=30).stdout.decode()
        check(re.search(r"^Encrypted:\s+no$", info, re.M), "%s is encrypted" % pdf)
    check(not os.path.exists(os.path.join(out_dir, "损坏.pdf")), "a PDF of the damaged document")
    leftovers = [n for _, _, files in os.walk(out_dir) for n in files if n.endswith(".part")]
    check(not leftovers, "partial files left: %r" % leftovers)
    rows = json_rows(report)
    check([r["outcome"] for r in rows] ==
          ["skipped-existing", "exported", "exported", "damaged", "exported", "exported"], "report %r" % rows)
    check(server.count() == before and queue_empty(server), "--pdf printed")

    # --overwrite replaces only PDFs this program made: the one that was there stays.
    code, out, err = runner.run([docs, "--pdf", out_dir, "--overwrite", "--from-list", report])
    check(code == 1, "--overwrite: exit code %d (%s)" % (code, err))
    with open(kept, "rb") as f:
        check(f.read() == b"mine", "--overwrite replaced a PDF this program did not make")
    print("ok - --pdf: each PDF read back, unencrypted for encrypted documents, an existing one kept (also "
          "with --overwrite, since this program did not make it), no printer used")


def test_pdf_raw_names(runner, root):
    """Names that are not UTF-8: the PDF keeps the document's bytes, the report marks them in hex."""
    docs = os.path.join(root, "raw").encode()
    os.makedirs(os.path.join(docs, b"sub\xfe"))
    make_docx(os.path.join(docs, b"bad\xff.docx").decode("utf-8", "surrogateescape"), "raw page")
    make_docx(os.path.join(docs, b"sub\xfe", b"x.docx").decode("utf-8", "surrogateescape"), "nested raw page")
    out_dir = os.path.join(root, "raw-pdf")
    report = os.path.join(root, "raw.csv")
    code, out, err = runner.run([docs.decode(), "--pdf", out_dir, "--report", report])
    check(code == 0, "exit code %d (%s)" % (code, err))
    for name, text in ((b"bad\xff.pdf", "raw page"), (b"sub\xfe/x.pdf", "nested raw page")):
        pdf = os.path.join(out_dir.encode(), name)
        got = subprocess.run([b"pdftotext", pdf, b"-"], stdout=subprocess.PIPE, timeout=30).stdout.decode().strip()
        check(got == text, "%r reads %r" % (pdf, got))
    rows = csv_rows(report)
    check([(r["path"], r["path_hex"]) for r in rows] ==
          [("bad\ufffd.docx", b"bad\xff.docx".hex()), ("sub\ufffd/x.docx", b"sub\xfe/x.docx".hex())],
          "report %r" % rows)
    print("ok - --pdf and --report with names that are not UTF-8: the PDFs carry the names' bytes, the "
          "report their hex")


def test_from_list(runner, server, root, docs, passwords):
    report = os.path.join(root, "first.csv")
    before = server.count()
    code, out, err = runner.run([docs, "--report", report])
    check(code == 1, "first run: exit code %d (%s)" % (code, err))
    # The folder's own failure list, which the new run replaces once it has read it.
    failures = os.path.join(docs, FAILURE_LIST)
    server.wait()
    first = server.count()
    check(first - before == 2, "first run printed %d" % (first - before))

    code, out, err = runner.run([docs, "--from-list", failures, "--passwords-file", passwords])
    check(code == 1, "from the failure list: exit code %d (%s)" % (code, err))
    check(out.splitlines()[:4] == ["[1/4] 一月.doc", "[2/4] 损坏.docx", "[3/4] 报告/三月.doc", "[4/4] 报告/四月.doc"],
          "from the failure list: %r" % out)
    server.wait()
    check(server.texts(since=first) == ["alpha january", "bravo march", "charlie april"],
          "from the failure list printed %r" % server.texts(since=first))

    # The report of the first run, with one of its documents gone since.
    os.rename(os.path.join(docs, "报告/四月.doc"), os.path.join(root, "四月.doc"))
    second = server.count()
    code, out, err = runner.run([docs, "--from-list", report, "--passwords-file", passwords])
    os.rename(os.path.join(root, "四月.doc"), os.path.join(docs, "报告/四月.doc"))
    check(code == 1, "from the report: exit code %d (%s)" % (code, err))
    check("[4/4] 报告/四月.doc：文件不存在、不是 Word 文档、是链接或在隐藏文件夹中，未尝试" in out.splitlines(),
          "gone line %r" % out)
    server.wait()
    check(server.texts(since=second) == ["alpha january", "bravo march"],
          "from the report printed %r" % server.texts(since=second))
    print("ok - --from-list: a failure list and a csv report reprint only what failed, in order; a gone "
          "file is not tried")


def test_batch_bad_input(runner, server, root, docs):
    gbk = os.path.join(root, "gbk-passwords.txt")
    with open(gbk, "wb") as f:
        f.write("密码\n".encode("gbk"))
    outside = os.path.join(root, "outside.txt")
    with open(outside, "w") as f:
        f.write("/etc/passwd\n")
    stray = os.path.join(root, "stray.csv")
    with open(stray, "w", encoding="utf-8") as f:
        f.write("path,outcome\na.docx,damaged\nb\"c.docx,damaged\nd.docx,damaged\n")
    gbk_report = os.path.join(root, "gbk.csv")
    with open(gbk_report, "wb") as f:
        f.write("path,outcome\n报告.docx,damaged\n".encode("gbk"))
    nul = os.path.join(root, "nul.txt")
    with open(nul, "wb") as f:
        f.write(b"a.docx\nb\0.docx\n")
    cases = [("unknown option", ["--colour"], "未知选项：--colour"),
             ("zero copies", ["--copies", "0"], "份数应为"),
             ("negative copies", ["--copies=-1"], "份数应为"),
             ("malformed page range", ["--pages", "3-1"], "页码范围无效"),
             ("open page range", ["--pages", "2-"], "页码范围无效"),
             ("unknown duplex", ["--duplex", "both"], "双面打印应为"),
             ("missing passwords file", ["--passwords-file", os.path.join(root, "nope.txt")], "无法读取密码文件"),
             ("passwords file not UTF-8", ["--passwords-file", gbk], "不是 UTF-8"),
             ("report in a missing folder", ["--report", os.path.join(root, "nowhere", "r.csv")], "报告所在的文件夹不存在"),
             ("list outside the folder", ["--from-list", outside], "不在文件夹内"),
             ("an option taken for a folder", ["--pdf", "--overwrite"], "缺少取值"),
             ("an option taken for a folder, short", ["--pdf", "-q"], "缺少取值"),
             ("a delay that a check would ignore", ["--check", "--delay", "500"], "--delay 只用于打印"),
             ("a report with a stray quote", ["--from-list", stray], "第 3 行的引号不成对"),
             ("a report saved in GBK", ["--from-list", gbk_report], "第 2 行不是 UTF-8"),
             ("a list with a NUL", ["--from-list", nul], "第 2 行含有 NUL")]
    # An office that would start writes the marker: none may.
    stub = os.path.join(root, "no-office")
    os.makedirs(stub)
    marker = os.path.join(root, "office-started")
    open(os.path.join(stub, "fundamentalrc"), "w").close()
    with open(os.path.join(stub, "soffice.bin"), "w") as f:
        f.write("#!/bin/sh\ntouch '%s'\nexit 1\n" % marker)
    os.chmod(os.path.join(stub, "soffice.bin"), 0o755)
    before = server.count()
    for name, args, message in cases:
        code, out, err = runner.run([docs] + args, env={"QUILLMARK_OFFICE_PROGRAM": stub}, timeout=30)
        check(code == 2, "%s: exit code %d" % (name, code))
        check(message in err and out == "", "%s: %r %r" % (name, out, err))
        check(not os.path.exists(marker) and not runner.leftovers(), "%s: an office started" % name)
    check(server.count() == before, "bad input printed")
    print("ok - bad input: %d cases, each a message and exit 2 before anything starts" % len(cases))


def test_batch(runner, server, root, docmaker):
    if not docmaker:
        print("skipped - batch options: no document maker")
        return
    docs, passwords = make_batch(root, docmaker)
    test_check(runner, server, root, docs, passwords)
    test_print_with_passwords(runner, server, root, docs, passwords)
    test_print_options(runner, server, root, docs)
    test_pdf(runner, server, root, docs, passwords)
    test_pdf_raw_names(runner, root)
    test_from_list(runner, server, root, docs, passwords)
    test_batch_bad_input(runner, server, root, docs)


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    program, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    docmaker = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] else None
    shim = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[4] else None
    missing = [t for t in ("cupsd", "lpadmin", "pdftotext") if shutil.which(t) is None and
               not os.path.exists("/usr/sbin/" + t)]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    root = tempfile.mkdtemp(prefix="qm-cli-")
    os.chmod(root, 0o755)
    server = None
    failed = False
    try:
        server = Server(os.path.join(source, "scripts"), root)
        runner = Runner(program, root, server)
        tests = [("tree", lambda: test_tree_in_order(runner, server, root)),
                 ("failures", lambda: test_failures(runner, server, root)),
                 ("passwords", lambda: test_passwords(runner, server, root, source)),
                 ("terminal password", lambda: test_password_from_terminal(runner, server, root, source)),
                 ("printer", lambda: test_printer(runner, server, root)),
                 ("nothing printable", lambda: test_nothing_printable(runner, root)),
                 ("unconfirmed", lambda: test_unconfirmed(runner, server, root)),
                 ("interrupt", lambda: test_interrupt(runner, server, root)),
                 ("folder action", lambda: test_folder_action(runner, server, root, source, program)),
                 ("batch options", lambda: test_batch(runner, server, root, docmaker))]
        import print_cli_weekly
        tests += print_cli_weekly.run_all(runner, server, root, shim)
        failures = (Failure, print_cli_weekly.base.Failure, subprocess.TimeoutExpired)
        for name, test in tests:
            try:
                test()
            except failures as error:
                failed = True
                print("FAIL - %s: %s" % (name, error))
            left = runner.leftovers()
            if left:
                failed = True
                print("FAIL - %s left %s" % (name, left))
    except Failure as error:
        failed = True
        print("FAIL - %s" % error)
    finally:
        if server:
            server.stop()
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
