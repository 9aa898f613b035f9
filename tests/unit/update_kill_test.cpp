// The installer killed (SIGKILL) after every step of an update in turn, and the program started after
// it, as a user would start it: it runs, and the program's folder is the old release or the new one,
// whole, never a mix of the two, with nothing of the update left beside it.

#include "update_qtfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <quazip.h>
#include <quazipfile.h>

namespace {

using Tree = std::map<QString, QByteArray>; // relative path -> content, "<dir>" for folders

Tree Snapshot(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[QDir(root).relativeFilePath(path)] = it.fileInfo().isDir() ? QByteArray("<dir>") : ReadAll(path);
    }
    return tree;
}

QString Show(const Tree &tree)
{
    QStringList lines;
    for (const auto &entry : tree) {
        lines << entry.first + ": " + QString::fromLatin1(entry.second.left(24).toHex());
    }
    return lines.join('\n');
}

} // namespace

class KillTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray oldProgram, newProgram;
    QString package;
    int steps = 0;
    Tree before, after;

    // The program's folder before the update: the old release, an earlier backup, the settings file.
    QString MakeProgramFolder(const QString &name)
    {
        const QString app = dir.path() + "/" + name + "/";
        QDir().mkpath(app + "lang");
        WriteAll(app + "Quillmark", oldProgram);
        QFile::setPermissions(app + "Quillmark", QFile::permissions(app + "Quillmark") | QFile::ExeOwner);
        WriteAll(app + "Quillmark_old", "earlier backup");
        WriteAll(app + "readme.txt", "old readme");
        WriteAll(app + "lang/en.txt", "old en");
        WriteAll(app + "Quillmark.kov", "sourcePath=/home/\r\n");
        return app;
    }

    QProcess *Install(const QString &app, int killAfter)
    {
        QFile::copy(package, app + "Quillmark.zip");
        auto *driver = new QProcess(this);
        driver->start(QStringLiteral(INSTALL_DRIVER),
                      {app + "Quillmark.zip", app, app + "Quillmark",
                       QCryptographicHash::hash(newProgram, QCryptographicHash::Md5).toHex(),
                       QString::number(killAfter)});
        driver->waitForFinished(30000);
        return driver;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QByteArray program = ReadAll(QStringLiteral(SWAP_PROGRAM));
        QVERIFY(!program.isEmpty());
        oldProgram = program + "\nrelease 1\n";
        newProgram = program + "\nrelease 2\n";
        package = dir.path() + "/Quillmark.zip";
        QuaZip zip(package);
        QVERIFY(zip.open(QuaZip::mdCreate));
        const std::pair<QString, QByteArray> entries[] = {{"Quillmark", newProgram},
                                                          {"readme.txt", "new readme"},
                                                          {"lang/en.txt", "new en"},
                                                          {"lang/zh.txt", "new zh"},
                                                          {"doc/guide/start.txt", "new guide"}};
        for (const auto &entry : entries) {
            QuaZipFile file(&zip);
            QVERIFY(file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)));
            QCOMPARE(file.write(entry.second), entry.second.size());
            file.close();
        }
        zip.close();

        // One whole installation: how many steps it has, and the folder it leaves.
        const QString app = MakeProgramFolder("whole");
        before = Snapshot(app);
        before.erase("Quillmark.zip");
        QProcess *driver = Install(app, 0);
        QCOMPARE(driver->exitCode(), 0);
        const QList<QByteArray> said = driver->readAllStandardOutput().split(' ');
        QVERIFY(said.size() > 1 && said[0] == "steps");
        steps = said[1].toInt();
        QVERIFY(steps > 10);
        after = Snapshot(app);
        QCOMPARE(after["Quillmark"], newProgram);
        QCOMPARE(after["Quillmark_old"], oldProgram);
    }

    void killedAfterAnyStep_data()
    {
        QTest::addColumn<int>("killAfter");
        for (int step = 1; step <= steps; ++step) {
            QTest::newRow(qPrintable(QStringLiteral("after step %1").arg(step))) << step;
        }
    }
    void killedAfterAnyStep()
    {
        QFETCH(int, killAfter);
        const QString app = MakeProgramFolder(QStringLiteral("k%1").arg(killAfter));
        QProcess *driver = Install(app, killAfter);
        QCOMPARE(driver->exitStatus(), QProcess::CrashExit);

        // The next start: whatever stands at the program's path runs, and deals with what was left.
        QProcess program;
        program.start(app + "Quillmark", QStringList());
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        Tree now = Snapshot(app);
        // The package goes with a finished update; after one undone it may stay, to be fetched anew.
        const bool packageLeft = now.erase("Quillmark.zip") == 1;
        QVERIFY2(now == before || now == after, qPrintable(program.readAllStandardOutput() + Show(now)));
        QVERIFY(!(now == after && packageLeft));
    }
};

QTEST_GUILESS_MAIN(KillTest)
#include "update_kill_test.moc"
