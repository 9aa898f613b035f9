// The hand-off from "全部打印" to the print worker, with a word processor that records the calls.

#include "app/mainwindow.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "support/startpaths.h"
#include "tests/fakes/fakewordprocessor.h"
#include "update/threadpost.h"

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <memory>
#include <thread>

namespace {
const QString kFailureListName = QStringLiteral("无法设置或修改密码的文件目录.txt");
const QString kMissingFolder = QStringLiteral("文件夹不存在,请选择正确路径!");

void screen1080(int *width, int *height)
{
    *width = 1920;
    *height = 1080;
}

void touch(const QString &path, const QByteArray &bytes = QByteArray("x"))
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// The viewer of the failure list: where and when the window starts it.
struct ViewerProbe
{
    QMutex mutex;
    QStringList shown;             // failure lists handed to the viewer
    QStringList settingsWhenShown; // PrintJobSettings.failureListPath at that moment
    QList<QThread *> threads;      // the thread each was started on
    QList<bool> buttonEnabled;     // whether the print-all button was back at that moment
    QPushButton *button = nullptr;
};
ViewerProbe viewer;
} // namespace

// Records every text the worker sends to the label, in the order the window receives them.
class RecordingWindow : public MainWindow
{
    Q_OBJECT
public:
    QStringList labelTexts;
    int enableCount = 0;

public slots:
    void on_ShowDisposingFile(QString filePath)
    {
        labelTexts << filePath;
        MainWindow::on_ShowDisposingFile(filePath);
    }
    void on_Set_pBtn_Enable()
    {
        ++enableCount;
        MainWindow::on_Set_pBtn_Enable();
    }
};

class AppHandoffTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    std::unique_ptr<RecordingWindow> window;
    std::shared_ptr<FakeOffice> office;

    QString settingsPath() const { return dir.filePath(QStringLiteral("app/Quillmark.kov")); }
    QLineEdit *folderField() { return window->findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath")); }
    QLineEdit *passwordField() { return window->findChild<QLineEdit *>(QStringLiteral("lEdt_FindText")); }
    QSpinBox *delayBox() { return window->findChild<QSpinBox *>(QStringLiteral("sBox_PrintDelay")); }
    QPushButton *printButton()
    {
        return window->findChild<QPushButton *>(QStringLiteral("pBtn_ReplaceExcelText"));
    }
    QLabel *label() { return window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile")); }
    void clickPrint() { QTest::mouseClick(printButton(), Qt::LeftButton); }
    static QString native(const QString &path) { return QDir::toNativeSeparators(path); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        UpdateWorkerStarted = true; // no update check from these tests
        MainWindow::SetScreenSizeSource(&screen1080);
        ThreadObject::SetViewerLauncher([](const QString &failureListPath) {
            QMutexLocker lock(&viewer.mutex);
            viewer.shown << failureListPath;
            viewer.settingsWhenShown << PrintJobSettings.failureListPath;
            viewer.threads << QThread::currentThread();
            viewer.buttonEnabled << (viewer.button && viewer.button->isEnabled());
        });
    }
    void init()
    {
        office = InstallFakeWordProcessor();
        {
            QMutexLocker lock(&viewer.mutex);
            viewer.shown.clear();
            viewer.settingsWhenShown.clear();
            viewer.threads.clear();
            viewer.buttonEnabled.clear();
        }
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("app"))));
        QFile::remove(settingsPath());
        qstrncpy(SettingsFilePath, settingsPath().toLocal8Bit().constData(), sizeof SettingsFilePath);
        qstrncpy(StartArgument, "", sizeof StartArgument);
        window.reset(new RecordingWindow);
        viewer.button = printButton();
    }
    void cleanup()
    {
        ThreadObject::AbortRuns();
        viewer.button = nullptr;
        QVERIFY(window->FinishPrintThread(10000));
        window.reset();
        UninstallFakeWordProcessor();
        office.reset();
    }

    void refusesMissingFolder_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("empty") << QString();
        QTest::newRow("missing folder") << dir.filePath(QStringLiteral("nowhere/"));
        QTest::newRow("trailing backslash") << dir.filePath(QStringLiteral("docs")) + QLatin1Char('\\');
        QTest::newRow("two trailing slashes of a missing folder") << dir.filePath(QStringLiteral("gone//"));
        QTest::newRow("a file, not a folder") << dir.filePath(QStringLiteral("plain.txt"));
    }
    void refusesMissingFolder()
    {
        QFETCH(QString, field);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("docs"))));
        touch(dir.filePath(QStringLiteral("docs/a.docx")));
        touch(dir.filePath(QStringLiteral("plain.txt")));
        folderField()->setText(field);
        passwordField()->setText(QStringLiteral("pw"));
        delayBox()->setValue(300);

        clickPrint();

        QCOMPARE(label()->text(), kMissingFolder);
        QVERIFY(printButton()->isEnabled());
        // The settings of the click are taken even though nothing runs.
        QCOMPARE(PrintJobSettings.sourcePath, field);
        QCOMPARE(PrintJobSettings.password, QStringLiteral("pw"));
        QCOMPARE(PrintJobSettings.delayMs, 300);
        QCOMPARE(PrintJobSettings.failureListPath, field + kFailureListName);
        QVERIFY(!QFile::exists(settingsPath()));
        QTest::qWait(100);
        QVERIFY(office->calls().isEmpty());
        QVERIFY(window->labelTexts.isEmpty());
        QCOMPARE(label()->text(), kMissingFolder);
    }

    void deletesStaleFailureListEvenWhenTheFolderIsMissing()
    {
        // Typed without a trailing separator: the list sits beside the (missing) folder.
        const QString field = dir.filePath(QStringLiteral("typed"));
        const QString stale = field + kFailureListName;
        touch(stale);
        folderField()->setText(field);
        clickPrint();
        QCOMPARE(label()->text(), kMissingFolder);
        QVERIFY(!QFile::exists(stale));
    }

    void runReportsEveryDocument()
    {
        const QString root = dir.filePath(QStringLiteral("run")) + QLatin1Char('/');
        touch(root + QStringLiteral("a.docx"));
        touch(root + QStringLiteral("b.doc"));
        touch(root + QStringLiteral("notes.txt"));
        touch(root + QStringLiteral("sub/c.docm"));
        touch(root + QStringLiteral("~$a.docx"));
        const QStringList documents{native(root + QStringLiteral("a.docx")),
                                    native(root + QStringLiteral("b.doc")),
                                    native(root + QStringLiteral("sub/c.docm"))};
        office->addFailingPath(documents[1]);
        const QString stale = root + kFailureListName;
        touch(stale, "old list\n");
        folderField()->setText(root);
        passwordField()->setText(QStringLiteral("秘密"));
        delayBox()->setValue(5);

        clickPrint();
        // Before the run: the old list is gone, the label is cleared, the button is off.
        QVERIFY(!QFile::exists(stale));
        QCOMPARE(label()->text(), QString());
        QVERIFY(!printButton()->isEnabled());
        QVERIFY(window->labelTexts.isEmpty());

        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印2个word文件!"));
        const QStringList expected{
            documents[0], QStringLiteral("延时:5毫秒!"), documents[1],
            documents[2], QStringLiteral("延时:5毫秒!"), QStringLiteral("成功打印2个word文件!")};
        QCOMPARE(window->labelTexts, expected);
        QCOMPARE(window->enableCount, 1);
        QCOMPARE(office->printedPaths(), (QStringList{documents[0], documents[2]}));
        const QString open = QStringLiteral("open(%1,false,false,false,秘密,秘密,true)");
        const QStringList calls = office->calls();
        for (const QString &document : documents)
            QVERIFY2(calls.contains(open.arg(document)), qPrintable(document));
        // The failure list of this run lists the one that did not open.
        QTRY_COMPARE(viewer.shown.size(), 1);
        QCOMPARE(QDir::fromNativeSeparators(viewer.shown.first()), root + kFailureListName);
        QVERIFY(readAll(root + kFailureListName).contains(documents[1].toLocal8Bit()));
        QVERIFY(!readAll(root + kFailureListName).contains("old list"));
    }

    void remembersTheFolder_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("afterTemplate"); // %1 stands for the folder
        QTest::newRow("no settings file")
            << QByteArray() << QStringLiteral("plain/") << QByteArray("sourcePath=%1\r\n");
        QTest::newRow("replaces the old value")
            << QByteArray("sourcePath=/old/\r\n") << QStringLiteral("plain/")
            << QByteArray("sourcePath=%1\r\n");
        QTest::newRow("keeps other keys")
            << QByteArray("other=1\r\nsourcePath=/old/\r\nlast=2\r\n") << QStringLiteral("plain/")
            << QByteArray("other=1\r\nsourcePath=%1\r\nlast=2\r\n");
        QTest::newRow("chinese folder")
            << QByteArray() << QStringLiteral("文档/") << QByteArray("sourcePath=%1\r\n");
        QTest::newRow("typed without slash")
            << QByteArray() << QStringLiteral("plain") << QByteArray("sourcePath=%1\r\n");
        // A file edited by hand on Linux: every line keeps its LF and the lines after the key stay.
        QTest::newRow("LF line ends")
            << QByteArray("a=1\nsourcePath=/x\nb=2\nc=3\n") << QStringLiteral("plain/")
            << QByteArray("a=1\nsourcePath=%1\nb=2\nc=3\n");
        // Larger than any fixed buffer: every other byte is kept.
        for (int size : {12004, 1 << 20}) {
            QByteArray head, tail;
            for (int i = 0; head.size() < size / 2; ++i)
                head += "k" + QByteArray::number(i) + "=v\r\n";
            for (int i = 0; tail.size() < size / 2; ++i)
                tail += "t" + QByteArray::number(i) + "=w\r\n";
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(size)))
                << head + "sourcePath=/old/\r\n" + tail << QStringLiteral("plain/")
                << head + "sourcePath=%1\r\n" + tail;
        }
    }
    void remembersTheFolder()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, folder);
        QFETCH(QByteArray, afterTemplate);
        if (!before.isNull())
            touch(settingsPath(), before);
        const QString path = dir.filePath(folder);
        QVERIFY(QDir().mkpath(path));
        // The settings text was loaded when the window was built.
        window.reset(new RecordingWindow);
        folderField()->setText(path);
        // Only the folder is remembered, not the password or the delay: the file's bytes below tell.
        passwordField()->setText(QStringLiteral("secret"));
        delayBox()->setValue(1234);
        clickPrint();
        QByteArray expected = afterTemplate;
        expected.replace("%1", path.toLocal8Bit());
        QCOMPARE(readAll(settingsPath()), expected);
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印0个word文件!"));
    }

    void delayIsReadFromTheSpinBox()
    {
        const QString root = dir.filePath(QStringLiteral("empty")) + QLatin1Char('/');
        QVERIFY(QDir().mkpath(root));
        folderField()->setText(root);
        delayBox()->setValue(2500);
        clickPrint();
        QCOMPARE(PrintJobSettings.delayMs, 2500);
        QCOMPARE(PrintJobSettings.failureListPath, root + kFailureListName);
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印0个word文件!"));
        QVERIFY(viewer.shown.isEmpty());
        QVERIFY(!QFile::exists(root + kFailureListName));
    }

    void secondRunReplacesTheFirst()
    {
        const QString first = dir.filePath(QStringLiteral("first")) + QLatin1Char('/');
        const QString second = dir.filePath(QStringLiteral("second")) + QLatin1Char('/');
        touch(first + QStringLiteral("one.docx"));
        touch(second + QStringLiteral("two.docx"));
        touch(second + QStringLiteral("three.doc"));
        folderField()->setText(first);
        clickPrint();
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印1个word文件!"));

        window->labelTexts.clear();
        folderField()->setText(second);
        clickPrint();
        QCOMPARE(label()->text(), QString());
        QVERIFY(!printButton()->isEnabled());
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印2个word文件!"));
        // Only the new worker reports: one path and one notice per document, then the count.
        QCOMPARE(window->labelTexts.size(), 5);
        QCOMPARE(window->enableCount, 2);
        QCOMPARE(office->printedPaths(), (QStringList{native(first + QStringLiteral("one.docx")),
                                                      native(second + QStringLiteral("three.doc")),
                                                      native(second + QStringLiteral("two.docx"))}));
    }

    void viewerStartsOnTheGuiThreadBeforeTheButtonComesBack()
    {
        // Desktop services and process starts belong to the GUI thread. And a click once the button is
        // back deletes the list, so the viewer must have been started by then, with this run's list.
        const QString first = dir.filePath(QStringLiteral("slow")) + QLatin1Char('/');
        const QString second = dir.filePath(QStringLiteral("next")) + QLatin1Char('/');
        touch(first + QStringLiteral("x_locked.docx"));
        office->addFailingPath(native(first + QStringLiteral("x_locked.docx")));
        QVERIFY(QDir().mkpath(second));
        folderField()->setText(first);
        clickPrint();
        QTRY_VERIFY(printButton()->isEnabled());
        {
            QMutexLocker lock(&viewer.mutex);
            QCOMPARE(viewer.shown, QStringList{first + kFailureListName});
            QCOMPARE(viewer.threads, QList<QThread *>{qApp->thread()});
            QCOMPARE(viewer.buttonEnabled, QList<bool>{false});
            QCOMPARE(viewer.settingsWhenShown, QStringList{first + kFailureListName});
        }
        QVERIFY(readAll(first + kFailureListName).contains("x_locked.docx"));

        folderField()->setText(second);
        clickPrint();
        QCOMPARE(PrintJobSettings.failureListPath, second + kFailureListName);
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(), QStringLiteral("成功打印0个word文件!"));
        QMutexLocker lock(&viewer.mutex);
        QCOMPARE(viewer.shown.size(), 1); // nothing failed in the second run
    }

    void failureListThatCannotBeWrittenIsShownInTheLabel()
    {
        // A folder standing where the list should go: no list, no viewer, and the label says why.
        const QString root = dir.filePath(QStringLiteral("blocked")) + QLatin1Char('/');
        touch(root + QStringLiteral("bad.docx"));
        office->addFailingPath(native(root + QStringLiteral("bad.docx")));
        QVERIFY(QDir().mkpath(root + kFailureListName + QStringLiteral("/inside"))); // survives the click
        folderField()->setText(root);
        clickPrint();
        QTRY_VERIFY(printButton()->isEnabled());
        QCOMPARE(label()->text(),
                 QStringLiteral("成功打印0个word文件! 无法写入打印失败的文件列表（%1），列表未能显示。")
                     .arg(native(root + kFailureListName)));
        QMutexLocker lock(&viewer.mutex);
        QVERIFY(viewer.shown.isEmpty());
    }
};

QTEST_MAIN(AppHandoffTest)
#include "app_handoff_test.moc"
