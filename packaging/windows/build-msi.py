#!/usr/bin/env python3
"""Builds the Windows Installer package from the folder that also goes into the zip.

    build-msi.py STAGE OUT.msi VERSION

STAGE holds the program's files (Quillmark.exe, quillmark-shell.exe, the DLLs and plugin folders, the
read-me); VERSION is the product version MAJOR.MINOR.RELEASE. Needs wixl and msibuild (Debian's wixl and
msitools). quillmark.wxs beside this script describes everything but the list of files.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
ICON = os.path.join(HERE, "..", "..", "resources", "images", "kov.ico")

# The texts that wixl cannot write, by the name that stands for them in quillmark.wxs.
TEXTS = {
    "ZH_PRODUCT": "澄笺 (Quillmark)",
    "ZH_PUBLISHER": "岚舟软件",
    "ZH_VERB": "打印全部 Word 文档",
    "ZH_NEWER": "已经安装了更新版本的澄笺，请先卸载它再安装这个版本。",
    # Start menu entry: an 8.3 name for file systems without long names, then the real one.
    "ZH_SHORTCUT": "QUILLM~1|澄笺",
    "ZH_SHORTCUT_TIP": "批量打印文件夹中的 Word 文档",
}
# Where they stand: table, column.
TEXT_COLUMNS = [("Property", "Value"), ("Shortcut", "Name"), ("Shortcut", "Description"),
                ("Registry", "Value"), ("LaunchCondition", "Description")]
# The same for every release: it is how a newer package finds the installed one.
UPGRADE_CODE = "1638B792-48BB-4765-9AA6-49E54E59B560"
# Simplified Chinese: the database's strings are stored in this code page.
CODEPAGE = 936

# The run at login only with AUTOSTART; removal also takes it when the property is gone by then (Windows
# Installer under Wine evaluates the condition again when the product is removed).
COMPONENT_CONDITIONS = {"Autostart": 'AUTOSTART="1" OR REMOVE~="ALL"'}


def fail(message):
    sys.exit("build-msi.py: " + message)


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = result.stdout.decode(errors="replace")
    # wixl reports attributes it does not know only as warnings: they must not pass unnoticed.
    if result.returncode != 0 or "WARNING" in output or "CRITICAL" in output:
        fail("%s failed:\n%s" % (" ".join(command), output))
    return output


def check_version(version):
    """MAJOR.MINOR.RELEASE within what Windows Installer compares: 255, 255, 65535."""
    m = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", version)
    if not m or int(m.group(1)) > 255 or int(m.group(2)) > 255 or int(m.group(3)) > 65535:
        fail("product version %r is not MAJOR.MINOR.RELEASE with at most 255.255.65535" % version)


def file_fragment(stage):
    """One component per file, keyed by the file, in the folders of the stage. The two files that
    quillmark.wxs names itself are left out here."""
    named = {"Quillmark.exe", "quillmark-shell.exe"}
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>"]
    refs = []

    def ident(kind, rel):
        # Identifiers: letters, digits, dots and underscores; a file's path keeps them unique and stable.
        return kind + "_" + re.sub(r"[^A-Za-z0-9_.]", "_", rel)

    def folder(path, rel, indent):
        entries = sorted(os.listdir(path))
        first = True
        for name in entries:
            full = os.path.join(path, name)
            if os.path.isdir(full) or (not rel and name in named):
                continue
            if not re.fullmatch(r"[A-Za-z0-9_.+-]+", name):
                fail("file name outside what the package can hold: %s" % os.path.join(rel, name))
            file_rel = os.path.join(rel, name) if rel else name
            component = ident("C", file_rel)
            refs.append(component)
            lines.append("%s<Component Id=%s Guid=\"*\">" % (indent, quoteattr(component)))
            lines.append("%s  <File Id=%s Source=%s KeyPath=\"yes\"/>"
                         % (indent, quoteattr(ident("F", file_rel)), quoteattr("files/" + file_rel)))
            if first and rel:
                lines.append("%s  <RemoveFolder Id=%s On=\"uninstall\"/>"
                             % (indent, quoteattr(ident("R", rel))))
            first = False
            lines.append("%s</Component>" % indent)
        for name in entries:
            full = os.path.join(path, name)
            if os.path.isdir(full):
                sub = os.path.join(rel, name) if rel else name
                lines.append("%s<Directory Id=%s Name=%s>"
                             % (indent, quoteattr(ident("D", sub)), quoteattr(name)))
                folder(full, sub, indent + "  ")
                lines.append("%s</Directory>" % indent)

    lines.append('    <DirectoryRef Id="InstallFolder">')
    folder(stage, "", "      ")
    lines.append("    </DirectoryRef>")
    lines.append('    <ComponentGroup Id="Files">')
    lines += ['      <ComponentRef Id=%s/>' % quoteattr(r) for r in refs]
    lines += ["    </ComponentGroup>", "  </Fragment>", "</Wix>", ""]
    return "\n".join(lines)


def sql_text(text):
    return "'" + text.replace("'", "''") + "'"


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    stage, out, version = sys.argv[1:]
    check_version(version)
    for tool in ("wixl", "msibuild", "msiinfo"):
        if shutil.which(tool) is None:
            fail("%s is missing (Debian packages wixl and msitools)" % tool)
    for name in ("Quillmark.exe", "quillmark-shell.exe"):
        if not os.path.isfile(os.path.join(stage, name)):
            fail("%s is not in %s" % (name, stage))

    work = tempfile.mkdtemp(prefix="quillmark-msi.")
    try:
        # wixl takes only paths relative to where it runs.
        os.symlink(os.path.abspath(stage), os.path.join(work, "files"))
        shutil.copy(ICON, os.path.join(work, "quillmark.ico"))
        shutil.copy(os.path.join(HERE, "quillmark.wxs"), os.path.join(work, "quillmark.wxs"))
        with open(os.path.join(work, "files.wxs"), "w", encoding="utf-8") as f:
            f.write(file_fragment(stage))
        msi = os.path.join(work, "quillmark.msi")
        run(["wixl", "-a", "x86", "-D", "ProductVersion=" + version, "-D", "UpgradeCode=" + UPGRADE_CODE,
             "-o", msi, "quillmark.wxs", "files.wxs"], cwd=work)

        with open(os.path.join(work, "_ForceCodepage.idt"), "wb") as f:
            f.write(b"\r\n\r\n%d\t_ForceCodepage\r\n" % CODEPAGE)
        run(["msibuild", msi, "-i", os.path.join(work, "_ForceCodepage.idt")])
        # The summary (what Explorer shows of the file) names the publisher too; the package code stays.
        package_code = re.search(r"^Revision number \(UUID\): (\{[0-9A-F-]+\})$",
                                 run(["msiinfo", "suminfo", msi]), re.MULTILINE)
        if not package_code:
            fail("no package code in the summary")
        run(["msibuild", msi, "-s", "Quillmark " + version, TEXTS["ZH_PUBLISHER"], "Intel;2052",
             package_code.group(1)])
        queries = []
        for table, column in TEXT_COLUMNS:
            for name, text in TEXTS.items():
                queries.append("UPDATE `%s` SET `%s` = %s WHERE `%s` = '%s'"
                               % (table, column, sql_text(text), column, name))
        for component, condition in COMPONENT_CONDITIONS.items():
            queries.append("UPDATE `Component` SET `Condition` = %s WHERE `Component` = '%s'"
                           % (sql_text(condition), component))
        # The removal's steps run the package's copy of quillmark-shell.exe: an executable from the Binary
        # table (2), run in the script (1024), its exit code ignored (64).
        queries.append("UPDATE `CustomAction` SET `Type` = 1090, `Source` = 'QuillmarkShellCopy' "
                       "WHERE `Source` = 'QuillmarkShell'")
        # A package of the same version replaces the installed one instead of installing beside it: the
        # row that finds older releases is written again (Attributes is part of its key) with 512, up to
        # and including this version, added to wixl's 1, feature states carried over.
        queries.append("DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
        queries.append("INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
                       "VALUES ('{%s}', '%s', 513, 'WIX_UPGRADE_DETECTED')" % (UPGRADE_CODE, version))
        # wixl schedules the older release's removal after the new files are in; it goes first instead.
        queries.append("UPDATE `InstallExecuteSequence` SET `Sequence` = 1501 "
                       "WHERE `Action` = 'RemoveExistingProducts'")
        run(["msibuild", msi] + [argument for query in queries for argument in ("-q", query)])

        # Every placeholder replaced, every change in place.
        dump = ""
        for table in run(["msiinfo", "tables", msi]).split():
            # In the work folder: a table with streams (Binary, Icon) is exported with them as files.
            dump += run(["msiinfo", "export", msi, table], cwd=work)
        left = sorted(set(re.findall(r"ZH_[A-Z_]+", dump)))
        if left:
            fail("texts not replaced: %s" % ", ".join(left))
        for text in TEXTS.values():
            if text.split("|")[-1] not in dump:
                fail("text missing from the package: %s" % text)
        if ("RemoveExistingProducts\t\t1501" not in dump or COMPONENT_CONDITIONS["Autostart"] not in dump
                or dump.count("1090\tQuillmarkShellCopy") != 2 or "\t513\t\tWIX_UPGRADE_DETECTED" not in dump):
            fail("the package's sequence or conditions were not changed")
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        shutil.move(msi, out)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
