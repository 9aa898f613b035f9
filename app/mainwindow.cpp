#include "app/mainwindow.h"

#include "app/folderdialog.h"
#include "app/resources.h"
#include "app/systemtray.h"
#include "platform/launch.h"
#include "platform/screen.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "support/direxists.h"
#include "support/startpaths.h"
#include "ui_mainwindow.h"
#include "update/threadpost.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>

bool UpdateWorkerStarted = false;

namespace {
MainWindow::ScreenAreaSource screenAreaSource = &PrimaryScreenArea;
MainWindow::ScreenSizeSource screenSizeSource = nullptr;
MainWindow::TrayAvailability trayAvailability = &QSystemTrayIcon::isSystemTrayAvailable;
int trayWaitMs = MainWindow::kTrayWaitMs;
const char kFailureListName[] = "无法设置或修改密码的文件目录.txt";
constexpr int kTrayPollMs = 250;
} // namespace

void MainWindow::SetScreenAreaSource(ScreenAreaSource source)
{
    screenAreaSource = source ? source : &PrimaryScreenArea;
    screenSizeSource = nullptr;
}

void MainWindow::SetScreenSizeSource(ScreenSizeSource source)
{
    screenSizeSource = source;
    screenAreaSource = &PrimaryScreenArea;
}

void MainWindow::SetTrayAvailability(TrayAvailability source, int waitMs)
{
    trayAvailability = source ? source : &QSystemTrayIcon::isSystemTrayAvailable;
    trayWaitMs = waitMs;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    screenWidth = 0;
    screenHeight = 0;
    int screenX = 0;
    int screenY = 0;
    if (screenSizeSource)
        screenSizeSource(&screenWidth, &screenHeight);
    else
        screenAreaSource(&screenX, &screenY, &screenWidth, &screenHeight);
    restoreHeight = height();
    restoreWidth = width();
    // Centred for the form's built size on the primary screen's free area (with several monitors the
    // desktop's origin may lie on another one); the later change of height does not move it again.
    move(screenX + (screenWidth - 940) / 2, screenY + (screenHeight - 500) / 2);

    setWindowTitle(QStringLiteral("澄笺") + QStringLiteral("2.0"));
    EnsureQuillmarkResources();
    setWindowIcon(QIcon(QStringLiteral(":/images/kov.ico")));

    SystemTray *tray = new SystemTray(this);
    TheSystemTray = tray;
    connect(tray, SIGNAL(showWidget()), this, SLOT(ShowSoftWindow()));
    connect(tray, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(SystemTrayActivated(QSystemTrayIcon::ActivationReason)));

    settingsSavable = LoadKeyFile(SettingsFilePath, settingsText) != -2;

    restoreHeight = 400;
    resize(restoreWidth, restoreHeight);

    if (UpdateServersConfigured() && !UpdateWorkerStarted) {
        UpdateWorkerStarted = true;
        updateThread = new QThread();
        updateWorker = new ThreadPost();
        updateWorker->moveToThread(updateThread);
        // Connected before the start, so that started() cannot come before startPost() listens.
        connect(updateThread, SIGNAL(started()), updateWorker, SLOT(startPost()));
        connect(updateWorker, SIGNAL(Signal_UpdateSuccess()), this, SLOT(on_Signal_UpdateSuccess()));
        // The tray is taken here, on the GUI thread; the worker only ever emits its request.
        connect(updateWorker, &ThreadPost::ShowBalloon, tray, &SystemTray::ShowBalloon);
        updateThread->start(QThread::InheritPriority);
    }

    char sourcePath[kSettingsValueCapacity] = {};
    GetKeyValue(settingsText, "sourcePath", sourcePath, sizeof sourcePath);
    ui->lEdt_SourcePath->setText(QString::fromLocal8Bit(sourcePath));

    if (std::strcmp(StartArgument, "-autorun") != 0) {
        show();
    } else if (!trayAvailability()) {
        trayWaitLimitMs = trayWaitMs;
        trayWait = new QTimer(this);
        connect(trayWait, SIGNAL(timeout()), this, SLOT(WaitForTrayHost()));
        trayWait->start(kTrayPollMs);
    }

    printThread = nullptr;
    printWorker = nullptr;
}

MainWindow::~MainWindow()
{
    // The worker is over (or cut off) before the tray icon and the window it signals go.
    FinishUpdateThread(kUpdateThreadEndMs);
    if (TheSystemTray && TheSystemTray->parent() == this)
        TheSystemTray = nullptr;
    delete ui;
}

bool MainWindow::FinishUpdateThread(unsigned long timeoutMs)
{
    if (!updateThread)
        return true;
    updateWorker->RequestStop();
    updateThread->quit();
    // A swap under way is let finish: it only renames files, and a program cut off in the middle of it
    // leaves its next start to finish or undo it.
    if (!updateThread->wait(timeoutMs) && !(updateWorker->SwapUnderWay() && updateThread->wait())) {
        // Still in a network call: whatever it emits later reaches nobody. Thread and worker are left
        // to the end of the process, since a running QThread must not be destroyed.
        disconnect(updateWorker, nullptr, nullptr, nullptr);
        updateWorker = nullptr;
        updateThread = nullptr;
        return false;
    }
    delete updateWorker;
    delete updateThread;
    updateWorker = nullptr;
    updateThread = nullptr;
    return true;
}

void MainWindow::WaitForTrayHost()
{
    trayWaitedMs += kTrayPollMs;
    const bool trayCameUp = trayAvailability();
    if (!trayCameUp && trayWaitedMs < trayWaitLimitMs)
        return;
    trayWait->stop();
    trayWait->deleteLater();
    trayWait = nullptr;
    // Without a tray host the hidden window could never be reached: show it. Closing it then ends the
    // program, as closing the last window always does.
    if (!trayCameUp && isHidden())
        ShowSoftWindow();
}

bool MainWindow::FinishPrintThread(unsigned long timeoutMs)
{
    if (!printThread)
        return true;
    printThread->quit();
    if (!printThread->wait(timeoutMs))
        return false;
    delete printWorker;
    delete printThread;
    printWorker = nullptr;
    printThread = nullptr;
    return true;
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(restoreWidth, restoreHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        ShowSoftWindow();
        break;
    default:
        break;
    }
}

void MainWindow::on_Signal_UpdateSuccess()
{
    QMessageBox::about(this, QStringLiteral("注意："), QStringLiteral("成功升级新版本!"));
    QCoreApplication::quit();
    LaunchProcess(ExePath, "", 1);
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    const QString folder =
        FolderDialog::getExistingDirectory(this, QStringLiteral("选择文件夹"), QStringLiteral("."),
                                           QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    ui->lEdt_SourcePath->setText(folder + QStringLiteral("/"));
}

void MainWindow::on_pBtn_ReplaceExcelText_clicked()
{
    // The button comes back before the last run has written its failure list: let that run end before
    // its settings are rewritten or its worker goes away.
    if (printThread) {
        printThread->quit();
        printThread->wait();
    }

    PrintJobSettings.sourcePath = ui->lEdt_SourcePath->text();
    PrintJobSettings.password = ui->lEdt_FindText->text();
    PrintJobSettings.delayMs = ui->sBox_PrintDelay->text().toInt(nullptr, 10);
    PrintJobSettings.failureListPath = PrintJobSettings.sourcePath + QString::fromUtf8(kFailureListName);

    const QByteArray failureList = PrintJobSettings.failureListPath.toLocal8Bit();
    if (PathExists(failureList.constData()))
        std::remove(failureList.constData());

    const QByteArray sourcePath = PrintJobSettings.sourcePath.toLocal8Bit();
    if (!DirectoryExists(sourcePath.constData())) {
        ui->lb_ShowDisposingFile->setText(QStringLiteral("文件夹不存在,请选择正确路径!"));
        return;
    }

    if (settingsSavable && SetKeyValue(settingsText, "sourcePath", sourcePath.constData()) == 0)
        SaveKeyFile(SettingsFilePath, settingsText);

    ui->lb_ShowDisposingFile->setText(QString());
    ui->pBtn_ReplaceExcelText->setEnabled(false);

    delete printWorker;
    delete printThread;

    printThread = new QThread();
    printWorker = new ThreadObject();
    printWorker->moveToThread(printThread);
    printThread->start(QThread::InheritPriority);

    connect(printWorker, SIGNAL(ShowDisposingFile(QString)), this, SLOT(on_ShowDisposingFile(QString)),
            Qt::UniqueConnection);
    connect(this, SIGNAL(pBtn_ReplaceExcelText_HasClicked()), printWorker, SLOT(ReplaceExcelText()),
            Qt::UniqueConnection);
    connect(printWorker, SIGNAL(Set_pBtn_Enable()), this, SLOT(on_Set_pBtn_Enable()), Qt::UniqueConnection);
    connect(printWorker, SIGNAL(ShowFailureList(QString)), this, SLOT(ShowFailureList(QString)),
            Qt::UniqueConnection);

    emit pBtn_ReplaceExcelText_HasClicked();
}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    ui->lb_ShowDisposingFile->setText(filePath);
}

void MainWindow::ShowFailureList(QString failureListPath)
{
    ThreadObject::LaunchViewer(failureListPath);
}

void MainWindow::on_Set_pBtn_Enable()
{
    ui->pBtn_ReplaceExcelText->setEnabled(true);
}
