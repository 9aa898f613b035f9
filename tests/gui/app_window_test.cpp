// The main window around its form: placement, title and icon, start argument, settings file, tray
// icon and folder chooser.

#include "app/folderdialog.h"
#include "app/mainwindow.h"
#include "app/systemtray.h"
#include "support/startpaths.h"
#include "update/threadpost.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {
int fakeScreenWidth = 1920;
int fakeScreenHeight = 1080;
void fakeScreenSize(int *width, int *height)
{
    *width = fakeScreenWidth;
    *height = fakeScreenHeight;
}

QRect fakeArea;
void fakeScreenArea(int *x, int *y, int *width, int *height)
{
    *x = fakeArea.x();
    *y = fakeArea.y();
    *width = fakeArea.width();
    *height = fakeArea.height();
}

// The tray host as the tests decide: there, missing, or coming up after some time.
int trayUpAfterMs = 0;
QElapsedTimer trayClock;
bool fakeTrayAvailable()
{
    return trayUpAfterMs == 0 ||
           (trayUpAfterMs > 0 && trayClock.isValid() && trayClock.elapsed() >= trayUpAfterMs);
}

void setStartArgument(const char *argument)
{
    qstrncpy(StartArgument, argument, sizeof StartArgument);
}

void setSettingsFile(const QString &path)
{
    qstrncpy(SettingsFilePath, path.toLocal8Bit().constData(), sizeof SettingsFilePath);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

template <typename T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}
} // namespace

class AppWindowTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;

    MainWindow *makeWindow(const char *argument = "")
    {
        setStartArgument(argument);
        window.reset(new MainWindow);
        return window.get();
    }
    SystemTray *tray() { return qobject_cast<SystemTray *>(TheSystemTray); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The offscreen platform defaults to a 12 pt font, in which the delay row needs 950 pixels; a desktop
        // gives 9 pt, for which the form was laid out.
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
        // The update check talks to servers on the network; these tests are about the window only.
        UpdateWorkerStarted = true;
        MainWindow::SetScreenSizeSource(&fakeScreenSize);
        MainWindow::SetTrayAvailability(&fakeTrayAvailable);
    }
    void init()
    {
        trayUpAfterMs = 0;
        MainWindow::SetTrayAvailability(&fakeTrayAvailable);
        fakeScreenWidth = 1920;
        fakeScreenHeight = 1080;
        setSettingsFile(dir.filePath(QStringLiteral("Quillmark.kov")));
        QFile::remove(dir.filePath(QStringLiteral("Quillmark.kov")));
    }
    void cleanup() { window.reset(); }

    void placement_data()
    {
        QTest::addColumn<int>("screenWidth");
        QTest::addColumn<int>("screenHeight");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("full hd") << 1920 << 1080 << QPoint(490, 290);
        QTest::newRow("sxga") << 1280 << 1024 << QPoint(170, 262);
        QTest::newRow("odd size truncates") << 1365 << 767 << QPoint(212, 133);
        QTest::newRow("narrow screen") << 800 << 600 << QPoint(-70, 50);
        QTest::newRow("rounds toward zero") << 939 << 499 << QPoint(0, 0);
        QTest::newRow("tiny screen") << 641 << 480 << QPoint(-149, -10);
    }
    void placement()
    {
        QFETCH(int, screenWidth);
        QFETCH(int, screenHeight);
        QFETCH(QPoint, position);
        fakeScreenWidth = screenWidth;
        fakeScreenHeight = screenHeight;
        MainWindow *w = makeWindow();
        // Centred for the built 940 x 500, then shortened to 400 without moving.
        QCOMPARE(w->pos(), position);
        QCOMPARE(w->size(), QSize(940, 400));
    }

    // On the primary screen's free area, which need not start at the desktop's origin (a second monitor to
    // the left, a panel at the top).
    void placementOnTheAvailableArea_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("whole screen") << QRect(0, 0, 1920, 1080) << QPoint(490, 290);
        QTest::newRow("panel at the top") << QRect(0, 27, 1920, 1053) << QPoint(490, 303);
        QTest::newRow("primary right of another") << QRect(1920, 0, 1280, 1024) << QPoint(2090, 262);
        QTest::newRow("primary left of the origin") << QRect(-1280, 0, 1280, 1024) << QPoint(-1110, 262);
        QTest::newRow("primary below, panel on the left") << QRect(48, 1080, 1872, 1080) << QPoint(514, 1370);
        QTest::newRow("narrow") << QRect(100, 0, 800, 600) << QPoint(30, 50);
    }
    void placementOnTheAvailableArea()
    {
        QFETCH(QRect, area);
        QFETCH(QPoint, position);
        fakeArea = area;
        MainWindow::SetScreenAreaSource(&fakeScreenArea);
        MainWindow *w = makeWindow();
        MainWindow::SetScreenSizeSource(&fakeScreenSize);
        QCOMPARE(w->pos(), position);
        QCOMPARE(w->size(), QSize(940, 400));
    }

    // Without a tray host an autorun start would leave the program unreachable: after waiting for one to
    // come up, the window shows itself. A tray host that comes up in time keeps it hidden.
    void autorunWithoutTray_data()
    {
        QTest::addColumn<int>("trayUpAfter");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no tray host") << -1 << true;
        QTest::newRow("tray host comes up in time") << 300 << false;
        QTest::newRow("tray host too late") << 5000 << true;
    }
    void autorunWithoutTray()
    {
        QFETCH(int, trayUpAfter);
        QFETCH(bool, shown);
        trayUpAfterMs = trayUpAfter;
        trayClock.start();
        MainWindow::SetTrayAvailability(&fakeTrayAvailable, 1000);
        MainWindow *w = makeWindow("-autorun");
        QVERIFY2(!w->isVisible(), "not before the wait is over");
        QTest::qWait(1600);
        QCOMPARE(w->isVisible(), shown);
        if (shown) {
            QCOMPARE(w->size(), QSize(940, 400));
            // Closing it ends the event loop (there is no tray to hide in); exit code 2 would mean it ran on.
            QTimer::singleShot(0, w, &QWidget::close);
            QTimer::singleShot(3000, [] { QCoreApplication::exit(2); });
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!w->isVisible());
        }
    }

    void largeFontWidensRatherThanClips()
    {
        // Where the desktop's font needs more than 940 pixels, the layout keeps every control whole.
        const QFont previous = QApplication::font();
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 16));
        MainWindow *w = makeWindow();
        QVERIFY(w->minimumSizeHint().width() > 940);
        QCOMPARE(w->width(), w->minimumSizeHint().width());
        QCOMPARE(w->height(), 400);
        w->resize(1400, 700);
        w->ShowSoftWindow();
        QCOMPARE(w->width(), w->minimumSizeHint().width());
        window.reset();
        QApplication::setFont(previous);
    }

    void titleAndIcon()
    {
        MainWindow *w = makeWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("澄笺2.0"));
        const QIcon icon = w->windowIcon();
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        for (int size : {16, 32, 48, 128})
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    }

    void freshStartDefaults()
    {
        MainWindow *w = makeWindow();
        QCOMPARE(child<QLineEdit>(w, "lEdt_SourcePath")->text(), QString());
        QCOMPARE(child<QSpinBox>(w, "sBox_PrintDelay")->value(), 0);
        QCOMPARE(child<QLineEdit>(w, "lEdt_FindText")->text(), QString());
        QVERIFY(child<QPushButton>(w, "pBtn_ReplaceExcelText")->isEnabled());
        // Showing the window does not write a settings file.
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Quillmark.kov"))));
    }

    void startArgument_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<bool>("shown");
        QTest::newRow("none") << QByteArray() << true;
        QTest::newRow("autorun") << QByteArray("-autorun") << false;
        QTest::newRow("upper case") << QByteArray("-AUTORUN") << true;
        QTest::newRow("trailing space") << QByteArray("-autorun ") << true;
        QTest::newRow("without dash") << QByteArray("autorun") << true;
        QTest::newRow("other") << QByteArray("--help") << true;
    }
    void startArgument()
    {
        QFETCH(QByteArray, argument);
        QFETCH(bool, shown);
        MainWindow *w = makeWindow(argument.constData());
        QCOMPARE(w->isVisible(), shown);
        QVERIFY(tray());
        QCOMPARE(tray()->parent(), w);
        QVERIFY(tray()->isVisible());
    }

    void autorunOnlyInFirstPlace()
    {
        // Start-up keeps only the first argument: "-autorun" after another argument shows the window.
        QVERIFY(InitStartPaths("--verbose", "/opt/quillmark/Quillmark", '/') == 0);
        setSettingsFile(dir.filePath(QStringLiteral("Quillmark.kov")));
        window.reset(new MainWindow);
        QVERIFY(window->isVisible());
        QVERIFY(InitStartPaths("-autorun", "/opt/quillmark/Quillmark", '/') == 0);
        setSettingsFile(dir.filePath(QStringLiteral("Quillmark.kov")));
        window.reset(new MainWindow);
        QVERIFY(!window->isVisible());
    }

    void folderFromSettingsFile_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("field");
        QTest::newRow("no file") << QString() << QByteArray() << QString();
        QTest::newRow("plain") << QString() << QByteArray("sourcePath=/srv/docs/\r\n")
                               << QStringLiteral("/srv/docs/");
        QTest::newRow("chinese value")
            << QString() << QStringLiteral("sourcePath=/home/用户/文档/\r\n").toLocal8Bit()
            << QStringLiteral("/home/用户/文档/");
        QTest::newRow("chinese folder of the program")
            << QStringLiteral("程序目录") << QStringLiteral("sourcePath=/data/合同/\r\n").toLocal8Bit()
            << QStringLiteral("/data/合同/");
        QTest::newRow("other keys around")
            << QString() << QByteArray("a=1\r\nsourcePath=/x/y/\r\nb=2\r\n") << QStringLiteral("/x/y/");
        QTest::newRow("key missing") << QString() << QByteArray("other=/x/\r\n") << QString();
        QTest::newRow("empty file") << QString() << QByteArray("") << QString();
    }
    void folderFromSettingsFile()
    {
        QFETCH(QString, subfolder);
        QFETCH(QByteArray, content);
        QFETCH(QString, field);
        QString folder = dir.path();
        if (!subfolder.isEmpty()) {
            folder = dir.filePath(subfolder);
            QVERIFY(QDir().mkpath(folder));
        }
        const QString settings = folder + QStringLiteral("/Quillmark.kov");
        QFile::remove(settings);
        if (!content.isNull())
            writeFile(settings, content);
        setSettingsFile(settings);
        MainWindow *w = makeWindow();
        QCOMPARE(child<QLineEdit>(w, "lEdt_SourcePath")->text(), field);
        // Reading the settings leaves the file as it was.
        if (!content.isNull()) {
            QFile file(settings);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
    }

    void showSoftWindowRestoresSize_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("resized by the user") << "resized";
        QTest::newRow("hidden by autorun") << "hidden";
        QTest::newRow("minimised") << "minimised";
        QTest::newRow("enlarged") << "enlarged";
    }
    void showSoftWindowRestoresSize()
    {
        QFETCH(QString, state);
        MainWindow *w = makeWindow(state == QLatin1String("hidden") ? "-autorun" : "");
        if (state == QLatin1String("resized"))
            w->resize(500, 300);
        else if (state == QLatin1String("enlarged"))
            w->resize(1200, 900);
        else if (state == QLatin1String("minimised"))
            w->showMinimized();
        w->ShowSoftWindow();
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
        QCOMPARE(w->size(), QSize(940, 400));
    }

    void trayActivation_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shows");
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }
    void trayActivation()
    {
        QFETCH(int, reason);
        QFETCH(bool, shows);
        MainWindow *w = makeWindow("-autorun");
        QVERIFY(!w->isVisible());
        emit tray()->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(w->isVisible(), shows);
        if (shows)
            QCOMPARE(w->size(), QSize(940, 400));
    }

    void trayMenu()
    {
        makeWindow();
        SystemTray *icon = tray();
        QVERIFY(icon);
        QCOMPARE(icon->toolTip(), QStringLiteral("澄笺"));
        QVERIFY(!icon->icon().isNull());
        QVERIFY(icon->contextMenu());
        QCOMPARE(icon->contextMenu(), icon->trayMenu);
        QStringList texts;
        for (QAction *action : icon->contextMenu()->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("软件设置"), QStringLiteral("退出程序")}));
        QCOMPARE(icon->showAction->parent(), icon);
        QCOMPARE(icon->quitAction->parent(), icon);
    }

    void trayShowEntry()
    {
        MainWindow *w = makeWindow("-autorun");
        QSignalSpy spy(tray(), SIGNAL(showWidget()));
        tray()->showAction->trigger();
        QCOMPARE(spy.count(), 1);
        QVERIFY(w->isVisible());
        QCOMPARE(w->size(), QSize(940, 400));
        // Again while shown and resized: back to 940 x 400.
        w->resize(600, 600);
        tray()->showAction->trigger();
        QCOMPARE(w->size(), QSize(940, 400));
    }

    void trayIsDestroyedWithTheWindow()
    {
        makeWindow();
        QPointer<QSystemTrayIcon> icon = TheSystemTray;
        window.reset();
        QVERIFY(icon.isNull());
        QVERIFY(!TheSystemTray);
    }

    void folderChooser_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("field");
        QTest::newRow("chosen") << "/tmp/x"
                                << "/tmp/x/";
        QTest::newRow("chinese") << QStringLiteral("/home/张三/报告") << QStringLiteral("/home/张三/报告/");
        QTest::newRow("root") << "/"
                              << "//";
        QTest::newRow("already ends in slash") << "/tmp/x/"
                                               << "/tmp/x//";
        QTest::newRow("cancelled") << ""
                                   << "unchanged";
    }
    void folderChooser()
    {
        QFETCH(QString, answer);
        QFETCH(QString, field);
        MainWindow *w = makeWindow();
        QLineEdit *edit = child<QLineEdit>(w, "lEdt_SourcePath");
        edit->setText(QStringLiteral("unchanged"));
        FolderDialog::setNextAnswer(answer);
        QTest::mouseClick(child<QPushButton>(w, "pBtn_SourcePath"), Qt::LeftButton);
        QCOMPARE(edit->text(), field);
        QCOMPARE(FolderDialog::lastCaption(), QStringLiteral("选择文件夹"));
        QCOMPARE(FolderDialog::lastDirectory(), QStringLiteral("."));
        QCOMPARE(FolderDialog::lastOptions(), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        // The choice is remembered only when printing starts.
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Quillmark.kov"))));
    }

    // QApplication::exec() rather than a local event loop: after quit() a local loop would stay ended for
    // the rest of the process.
    void trayQuitEntryEndsTheEventLoop()
    {
        MainWindow *w = makeWindow("-autorun");
        QTimer::singleShot(0, tray()->quitAction, &QAction::trigger);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(42); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!w->isVisible());
    }

    void updateSuccessTellsQuitsAndRestarts()
    {
#ifdef _WIN32
        QSKIP("the new executable here is a shell script; on Windows the whole update is tested under Wine");
#endif
        // The "new executable": a script that leaves a mark when it starts.
        const QString marker = dir.filePath(QStringLiteral("started"));
        const QString program = dir.filePath(QStringLiteral("新版本"));
        {
            QFile script(program);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/started\"\n");
        }
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        char savedExePath[sizeof ExePath];
        memcpy(savedExePath, ExePath, sizeof ExePath);
        qstrncpy(ExePath, program.toLocal8Bit().constData(), sizeof ExePath);

        MainWindow *w = makeWindow();
        QString title, text;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            QVERIFY(!QFile::exists(marker)); // nothing starts before the user has read the box
            box->accept();
        });
        closer.start(20);
        QTimer::singleShot(0, w, &MainWindow::on_Signal_UpdateSuccess);
        QTimer::singleShot(10000, [] { QCoreApplication::exit(42); });
        const int code = QApplication::exec();
        memcpy(ExePath, savedExePath, sizeof ExePath);
        QCOMPARE(code, 0);
        QCOMPARE(title, QStringLiteral("注意："));
        QCOMPARE(text, QStringLiteral("成功升级新版本!"));
        // Started with no arguments of its own.
        const auto startedWith = [&marker] {
            QFile started(marker);
            return started.open(QIODevice::ReadOnly) ? started.readAll().trimmed() : QByteArray();
        };
        QTRY_COMPARE(startedWith(), QByteArray("0"));
    }
};

QTEST_MAIN(AppWindowTest)
#include "app_window_test.moc"
