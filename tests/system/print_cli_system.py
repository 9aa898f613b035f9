#!/usr/bin/env python3
"""quillmark-print against real LibreOffice and the private print server of scripts/printserver.sh.

    print_cli_system.py QUILLMARK_PRINT SOURCE_DIR

Pages are read back with pdftotext. Exit code 0 when every check passed, 1 otherwise, 77 when a needed
tool is missing.
"""

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
        for name in ("PRINTER", "LPDEST", "QUILLMARK_PASSWORD", "DISPLAY", "WAYLAND_DISPLAY"):
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
        process = runner.start([docs, "--delay", "60000"])
        poll("the first document to be printed", lambda: server.count() > before, timeout=120)
        check(runner.leftovers(), "no office process found while printing")
        sent = time.monotonic()
        process.send_signal(sig)
        try:
            out, err = process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("%s did not end the run" % sig.name)
        took = time.monotonic() - sent
        check(process.returncode == 130, "%s: exit code %d" % (sig.name, process.returncode))
        check(took < 2.0, "%s: the run took %.2f s to end" % (sig.name, took))
        check(not runner.leftovers(), "%s: left %s" % (sig.name, runner.leftovers()))
        check("打印已中止" in err.decode(), "%s: stderr %r" % (sig.name, err.decode()))
        server.wait()
        check(server.count() - before == 1, "%s: %d jobs" % (sig.name, server.count() - before))
        print("ok - %s during the pause: exit 130 after %.2f s, no office left, nothing more printed"
              % (sig.name, took))


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


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    program, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
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
                 ("folder action", lambda: test_folder_action(runner, server, root, source, program))]
        for name, test in tests:
            try:
                test()
            except (Failure, subprocess.TimeoutExpired) as error:
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
