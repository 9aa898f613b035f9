"""quillmark-print for a team's weekly folder, against real LibreOffice and the private print server: nothing
of the user's written through a link or replaced, failure lists and reports carried on, the exit code of a
printer that stops, lists read as strictly as the scan, what a page range printed, only what is new, and a
watched inbox. Run by print_cli_system.py, which owns the print server and the runner."""

import os
import signal
import subprocess
import time

import print_cli_system as base
from app_desktop_e2e import make_docx

check, poll, make_tree = base.check, base.poll, base.make_tree
FAILURE_LIST = base.FAILURE_LIST
PDF_FAILURE_LIST = "无法导出PDF的文件目录.txt"


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def pdf_text(path):
    return subprocess.run(["pdftotext", path, "-"], stdout=subprocess.PIPE, timeout=30).stdout.decode().strip()


def entries(folder):
    """Every name below folder (links not followed), relative."""
    found = []
    for dirpath, dirnames, filenames in os.walk(folder):
        for name in dirnames + filenames:
            found.append(os.path.relpath(os.path.join(dirpath, name), folder))
    return sorted(found)


def test_pdf_links(runner, root):
    """Links planted in a PDF folder that others fill: nothing is written through them, and the office's own
    temporary and lock files never show there."""
    docs = make_tree(os.path.join(root, "senders"), {"a.docx": "page a", "d.docx": "page d", "e.docx": "page e",
                                                      "sub/b.docx": "page b"})
    victim = os.path.join(root, "victim")
    os.makedirs(victim)
    with open(os.path.join(victim, "keep.txt"), "w") as f:
        f.write("precious")
    pdfs = os.path.join(root, "shared-pdf")
    os.makedirs(pdfs)
    os.symlink(os.path.join(victim, "made-by-link.pdf"), os.path.join(pdfs, "d.pdf"))  # leads nowhere
    os.symlink(os.path.join(victim, "keep.txt"), os.path.join(pdfs, "e.pdf"))
    os.symlink(victim, os.path.join(pdfs, "sub"))
    report = os.path.join(root, "links.json")
    code, out, err = runner.run([docs, "--pdf", pdfs, "--report", report])
    check(code == 1, "exit code %d (%s)" % (code, err))
    rows = {r["path"]: r["outcome"] for r in base.json_rows(report)}
    check(rows == {"a.docx": "exported", "d.docx": "skipped-existing", "e.docx": "skipped-existing",
                   "sub/b.docx": "export-failed"}, "outcomes %r" % rows)
    check(entries(victim) == ["keep.txt"] and read(os.path.join(victim, "keep.txt")) == b"precious",
          "the victim folder changed: %r" % entries(victim))
    check(entries(pdfs) == ["a.pdf", "d.pdf", "e.pdf", "sub"], "the PDF folder holds %r" % entries(pdfs))
    check(pdf_text(os.path.join(pdfs, "a.pdf")) == "page a", "a.pdf")
    check(read(os.path.join(docs, PDF_FAILURE_LIST)) == (os.path.join(docs, "sub", "b.docx") + "\n").encode()
          and not os.path.exists(os.path.join(docs, FAILURE_LIST)), "the export's own list")
    print("ok - --pdf into a folder with planted links: nothing written through them (a link at a PDF's place "
          "is kept, a folder link refused), no temporary file left; the export's own failure list")


def test_overwrite_only_ours(runner, root):
    docs = make_tree(os.path.join(root, "beside"), {"a.docx": "ours", "c.docx": "sender's document"})
    sender = os.path.join(docs, "c.pdf")
    with open(sender, "wb") as f:
        f.write(b"%PDF a sender's own")
    code, out, err = runner.run([docs, "--pdf", docs])
    check(code == 1 and os.path.exists(os.path.join(docs, "a.pdf")), "first export: %d %s" % (code, err))
    made = os.stat(os.path.join(docs, "a.pdf")).st_ino
    code, out, err = runner.run([docs, "--pdf", docs, "--overwrite"])
    check(code == 1, "--overwrite: exit code %d (%s)" % (code, err))
    check(os.stat(os.path.join(docs, "a.pdf")).st_ino != made, "our own PDF was not replaced")
    check(read(sender) == b"%PDF a sender's own", "--overwrite replaced a sender's PDF")
    check("1 个 PDF 已存在且不是本程序生成的" in out, "summary %r" % out)
    print("ok - --pdf into the folder itself with --overwrite: our own PDF replaced, the sender's kept")


def test_no_hard_links(runner, root, shim):
    docs = make_tree(os.path.join(root, "stick-src"), {"a.docx": "stick a", "b.docx": "stick b"})
    pdfs = os.path.join(root, "stick")
    os.makedirs(pdfs)
    with open(os.path.join(pdfs, "b.pdf"), "wb") as f:
        f.write(b"someone's")
    log = os.path.join(root, "shim.log")
    code, out, err = runner.run([docs, "--pdf", pdfs], env={"LD_PRELOAD": shim, "QUILLMARK_SHIM_LOG": log})
    check(code == 1, "exit code %d (%s)" % (code, err))
    check(pdf_text(os.path.join(pdfs, "a.pdf")) == "stick a", "a.pdf not exported")
    check(read(os.path.join(pdfs, "b.pdf")) == b"someone's", "b.pdf was replaced")
    refused = read(log).decode().split()
    check("renameat2" in refused and ("linkat" in refused or "link" in refused), "the shim saw %r" % refused)
    check(entries(pdfs) == ["a.pdf", "b.pdf"], "left %r" % entries(pdfs))
    print("ok - a file system without hard links or RENAME_NOREPLACE: exported, an existing PDF kept")


def test_hangup_mid_export(runner, root):
    names = ["%02d.docx" % i for i in range(8)]
    docs = make_tree(os.path.join(root, "hup"), {n: "hup page " + n for n in names})
    with open(os.path.join(docs, FAILURE_LIST), "wb") as f:
        f.write(b"/a/list/of/the/print/run.docx\n")
    pdfs = os.path.join(root, "hup-pdf")
    report = os.path.join(root, "hup.csv")
    process = runner.start([docs, "--pdf", pdfs, "--report", report])
    poll("a first PDF", lambda: os.path.isdir(pdfs) and any(n.endswith(".pdf") for n in os.listdir(pdfs)))
    process.send_signal(signal.SIGHUP)
    out, err = process.communicate(timeout=60)
    out, err = out.decode(), err.decode()
    check(process.returncode == 130, "exit code %d" % process.returncode)
    check("导出已中止" in err and "打印" not in err, "stderr %r" % err)
    rows = base.csv_rows(report)
    check([r["path"] for r in rows] == names, "report %r" % rows)
    exported = [r["path"] for r in rows if r["outcome"] == "exported"]
    check(all(r["outcome"] in ("exported", "not-tried") for r in rows), "outcomes %r" % rows)
    check("已导出 %d 个 PDF，未能导出 0 个。" % len(exported) in out, "summary %r against %r" % (out, exported))
    check(entries(pdfs) == sorted(n[:-5] + ".pdf" for n in exported), "the PDF folder holds %r" % entries(pdfs))
    check(read(os.path.join(docs, FAILURE_LIST)) == b"/a/list/of/the/print/run.docx\n", "the print run's list")
    print("ok - SIGHUP mid-export: exit 130, \"导出已中止\", the report whole and agreeing with the summary "
          "(%d exported), no lock or temporary file, the print run's list untouched" % len(exported))


def test_failure_lists(runner, root):
    docs = make_tree(os.path.join(root, "lists"), {"a.docx": "list a", "b.docx": b"broken", "c.docx": b"broken"})
    listed = os.path.join(docs, FAILURE_LIST)
    code, out, err = runner.run([docs])
    check(code == 1, "first run: exit code %d" % code)
    found = read(listed)
    check(found == ("%s\n%s\n" % (os.path.join(docs, "b.docx"), os.path.join(docs, "c.docx"))).encode(), "list")
    for args in (["--check"], ["--check", "--from-list", listed]):
        code, out, err = runner.run([docs] + args)
        check(code == 1 and read(listed) == found, "%s changed the list" % args)
    make_docx(os.path.join(docs, "b.docx"), "list b mended")
    only_b = os.path.join(root, "only-b.txt")
    with open(only_b, "w") as f:
        f.write("b.docx\n")
    code, out, err = runner.run([docs, "--from-list", only_b])
    check(code == 0, "retry: exit code %d (%s)" % (code, err))
    check(read(listed) == (os.path.join(docs, "c.docx") + "\n").encode(), "after the retry: %r" % read(listed))
    print("ok - the failure list: --check (also from the list) leaves it as it was; a retry of one document "
          "keeps the other")


def test_reports(runner, root):
    docs = make_tree(os.path.join(root, "week"), {"a.docx": "week a", "b.docx": b"broken", "c.docx": "week c"})
    spreadsheet = os.path.join(root, "user-data.csv")
    with open(spreadsheet, "wb") as f:
        f.write(b"name,amount\nrent,900\n")
    code, out, err = runner.run([docs, "--report", spreadsheet], env={"CUPS_SERVER": os.path.join(root, "x.sock")})
    check(code == 2 and "不会被覆盖" in err, "a foreign .csv: %d %r" % (code, err))
    check(read(spreadsheet) == b"name,amount\nrent,900\n", "the user's spreadsheet changed")
    week = os.path.join(root, "week.csv")
    code, out, err = runner.run([docs, "--report", week])
    check(code == 1 and len(base.csv_rows(week)) == 3, "first run %d" % code)
    code, out, err = runner.run([docs, "--from-list", week, "--report", week])
    rows = [(r["path"], r["outcome"]) for r in base.csv_rows(week)]
    check(rows == [("a.docx", "printed"), ("b.docx", "damaged"), ("c.docx", "printed")], "carried on: %r" % rows)
    print("ok - --report: a foreign spreadsheet refused (exit 2, unchanged); the week's report carried on by a "
          "retry, its printed rows kept")


def test_printer_stops(runner, server, root):
    docs = make_tree(os.path.join(root, "stops"), {"1.docx": "stops one", "2.docx": "stops two", "3.docx": "stops three"})
    report = os.path.join(root, "stops.csv")
    before = server.count()
    process = runner.start([docs, "--delay", "4000", "--report", report])
    try:
        poll("the first page", lambda: server.count() > before, timeout=120)
        subprocess.run([server.script, "disable", server.dir], timeout=60, check=True)
        out, err = process.communicate(timeout=120)
    finally:
        subprocess.run([server.script, "enable", server.dir], timeout=60)
    check(process.returncode == 1, "exit code %d (%s)" % (process.returncode, err.decode()))
    check("已停止" in err.decode(), "stderr %r" % err.decode())
    check(read(os.path.join(docs, FAILURE_LIST)) ==
          ("%s\n%s\n" % (os.path.join(docs, "2.docx"), os.path.join(docs, "3.docx"))).encode(), "failure list")
    # The second document's job may have been sent and cancelled in the stopped queue before the run saw
    # the printer stop; either way it did not print, and is listed.
    outcomes = [r["outcome"] for r in base.csv_rows(report)]
    check(outcomes[0] == "printed" and outcomes[1] in ("printer-error", "not-tried") and outcomes[2] == "not-tried",
          "report %r" % outcomes)
    print("ok - a printer that stops mid-run: exit 1, the documents not tried in the failure list for a retry")


def test_pages(runner, server, root):
    docs = os.path.join(root, "pages")
    os.makedirs(docs)
    make_docx(os.path.join(docs, "one.docx"), "only page")
    make_docx(os.path.join(docs, "two.docx"),
              'first page</w:t></w:r><w:r><w:br w:type="page"/></w:r><w:r><w:t>second page')
    report = os.path.join(root, "pages.json")
    before = server.count()
    code, out, err = runner.run([docs, "--pages", "2-5", "--copies", "2", "--report", report])
    check(code == 1, "exit code %d (%s)" % (code, err))
    rows = {r["path"]: (r["outcome"], r["pages"]) for r in base.json_rows(report)}
    check(rows == {"one.docx": ("no-pages", 0), "two.docx": ("printed", 2)}, "report %r" % rows)
    check("[1/2] one.docx：所选页码范围内没有页，未打印" in out, "progress %r" % out)
    server.wait()
    check(server.texts(since=before) == ["second page"], "printed %r" % server.texts(since=before))
    code, out, err = runner.run([docs, "--pdf", os.path.join(root, "pages-pdf"), "--pages", "5", "--report", report])
    rows = {r["path"]: r["outcome"] for r in base.json_rows(report)}
    check(code == 1 and rows == {"one.docx": "no-pages", "two.docx": "no-pages"}, "--pdf: %d %r" % (code, rows))
    print("ok - --pages: the pages printed (times the copies) in the report; a range past the end is no-pages "
          "for print and export, at once")


def test_lists(runner, server, root):
    docs = make_tree(os.path.join(root, "strict"), {"a.docx": "strict a", "b.docx": "strict b",
                                                     ".hidden/h.docx": "hidden"})
    make_docx(os.path.join(root, "outside.docx"), "outside")
    os.symlink(os.path.join(root, "outside.docx"), os.path.join(docs, "link.docx"))
    through = os.path.join(root, "strict-link")
    os.symlink(docs, through)
    listed = os.path.join(root, "strict.txt")
    with open(listed, "wb") as f:
        f.write(("\ufeffa.docx\na.docx\n%s\nlink.docx\n%s\n" % (os.path.join(docs, ".hidden", "h.docx"),
                                                              os.path.join(through, "b.docx"))).encode())
    before = server.count()
    code, out, err = runner.run([docs, "--from-list", listed])
    check(code == 1 and "列表中有 2 个文档已不存在或不能选用" in out, "exit %d %r" % (code, out))
    server.wait()
    check(server.texts(since=before) == ["strict a", "strict b"], "printed %r" % server.texts(since=before))
    print("ok - --from-list as strict as the scan: a byte order mark, a duplicate, a link and a hidden folder; "
          "the folder named through a link")


def test_new_only(runner, server, root):
    docs = make_tree(os.path.join(root, "weekly"), {"a.docx": "new a", "b.docx": "new b", "sub/c.docx": "new c"})
    report = os.path.join(root, "weekly.csv")
    code, out, err = runner.run([docs, "--report", report])
    check(code == 0, "first week: %d" % code)
    server.wait()
    before = server.count()
    code, out, err = runner.run([docs, "--new-only", "--report", report])
    check(code == 0 and "跳过 3 个之前已打印、之后未改动的文档。" in out, "unchanged: %d %r" % (code, out))
    make_docx(os.path.join(docs, "b.docx"), "b changed")
    make_docx(os.path.join(docs, "sub", "d.docx"), "new d")
    code, out, err = runner.run([docs, "--new-only", "--report", report])
    check(code == 0 and "跳过 2 个" in out, "changed: %d %r" % (code, out))
    server.wait()
    check(server.texts(since=before) == ["b changed", "new d"], "printed %r" % server.texts(since=before))
    rows = [(r["path"], r["outcome"]) for r in base.csv_rows(report)]
    check(rows == [("a.docx", "printed"), ("b.docx", "printed"), ("sub/c.docx", "printed"),
                   ("sub/d.docx", "printed")], "report %r" % rows)
    print("ok - --new-only: an unchanged folder prints nothing and says so; a changed and a new document print")


class Watch:
    def __init__(self, runner, root, name, args):
        self.log = os.path.join(root, name + ".out")
        with open(self.log, "w") as out:
            self.process = subprocess.Popen([runner.program] + args, env=runner.env, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=subprocess.STDOUT)
        poll("the watch to start", lambda: "正在监视" in self.output())

    def output(self):
        return read(self.log).decode()

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=60)
        check(self.process.returncode == 0 and "监视已结束" in self.output(),
              "the watch ended with %d: %r" % (self.process.returncode, self.output()))


def test_watch(runner, server, root):
    inbox = os.path.join(root, "inbox")
    done = os.path.join(root, "done")
    os.makedirs(inbox)
    report = os.path.join(root, "inbox.csv")
    make_docx(os.path.join(root, "slow.docx"), "slowly copied page")
    whole = read(os.path.join(root, "slow.docx"))
    before = server.count()
    watch = Watch(runner, root, "watch1", [inbox, "--watch", "--report", report, "--stable-seconds", "2"])
    try:
        # Copied in four pieces, each within the time the watch waits for a document to settle.
        with open(os.path.join(inbox, "slow.docx"), "wb") as f:
            for i in range(4):
                f.write(whole[i * len(whole) // 4:(i + 1) * len(whole) // 4])
                f.flush()
                time.sleep(0.7)
        poll("the slow document to print", lambda: server.count() > before, timeout=60)
        time.sleep(3)
    finally:
        watch.stop()
    server.wait()
    check(server.texts(since=before) == ["slowly copied page"], "printed %r" % server.texts(since=before))

    os.makedirs(os.path.join(done, "sub"))
    with open(os.path.join(done, "sub", "second.docx"), "wb") as f:
        f.write(b"last week's")
    before = server.count()
    watch = Watch(runner, root, "watch2", [inbox, "--watch", "--report", report, "--stable-seconds", "1",
                                           "--done-folder", done])
    try:
        os.makedirs(os.path.join(inbox, "sub"))
        make_docx(os.path.join(inbox, "sub", "second.docx"), "second page")
        with open(os.path.join(inbox, "broken.docx"), "wb") as f:
            f.write(b"not a document")
        poll("the second document to be done", lambda: os.path.exists(os.path.join(done, "sub", "second (2).docx")),
             timeout=60)
        poll("the broken one to be listed", lambda: os.path.exists(os.path.join(inbox, FAILURE_LIST)), timeout=60)
    finally:
        watch.stop()
    server.wait()
    check(server.texts(since=before) == ["second page"], "after the restart printed %r" % server.texts(since=before))
    check(read(os.path.join(done, "sub", "second.docx")) == b"last week's", "a done document was replaced")
    check(entries(inbox) == sorted(["slow.docx", "broken.docx", "sub", FAILURE_LIST]), "inbox %r" % entries(inbox))
    check(read(os.path.join(inbox, FAILURE_LIST)) == (os.path.join(inbox, "broken.docx") + "\n").encode(), "list")
    rows = {r["path"]: r["outcome"] for r in base.csv_rows(report)}
    check(rows == {"slow.docx": "printed", "sub/second.docx": "printed", "broken.docx": "damaged"},
          "report %r" % rows)
    print("ok - --watch: a document copied in slowly printed once, when whole; a restart printed nothing twice; "
          "a printed document moved to the done folder beside last week's, a broken one left and listed; "
          "SIGTERM ends it with 0")


def run_all(runner, server, root, shim):
    """(name, test) pairs for print_cli_system.py's loop."""
    return [("pdf and links", lambda: test_pdf_links(runner, root)),
            ("overwrite only ours", lambda: test_overwrite_only_ours(runner, root)),
            ("no hard links", lambda: test_no_hard_links(runner, root, shim) if shim else print("skip - no shim")),
            ("hang-up mid-export", lambda: test_hangup_mid_export(runner, root)),
            ("failure lists", lambda: test_failure_lists(runner, root)),
            ("reports", lambda: test_reports(runner, root)),
            ("printer stops", lambda: test_printer_stops(runner, server, root)),
            ("pages", lambda: test_pages(runner, server, root)),
            ("strict lists", lambda: test_lists(runner, server, root)),
            ("new only", lambda: test_new_only(runner, server, root)),
            ("watch", lambda: test_watch(runner, server, root))]
