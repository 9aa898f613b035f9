#pragma once
// The program's only window: the form, the tray icon, the folder choice and the print hand-off.

#include "support/keyfile.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <string>

class QThread;
class QTimer;
class ThreadObject;
class ThreadPost;

namespace Ui {
class MainWindow;
}

// Set once the update worker of this process was started; it is started at most once.
extern bool UpdateWorkerStarted;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Where the window takes the primary screen's available area from; tests give fixed ones.
    using ScreenAreaSource = void (*)(int *x, int *y, int *width, int *height);
    static void SetScreenAreaSource(ScreenAreaSource source);
    // A screen at (0, 0) whose whole size is available (null: the real screen again).
    using ScreenSizeSource = void (*)(int *width, int *height);
    static void SetScreenSizeSource(ScreenSizeSource source);

    // Whether a tray host shows icons; tests decide. Started for autorun without one, the window waits
    // this long for a tray host to come up (as at the start of a session) before it shows itself, since
    // there would otherwise be no way to reach the program.
    using TrayAvailability = bool (*)();
    static constexpr int kTrayWaitMs = 5000;
    static void SetTrayAvailability(TrayAvailability source, int waitMs = kTrayWaitMs);

    // How long the end of the window waits for the update worker to give up its check.
    static constexpr unsigned long kUpdateThreadEndMs = 3000;
    // Asks the update worker to stop and waits for its thread. False when it still runs after timeoutMs:
    // it is then cut off from the window and the tray and left to the end of the process. A swap under
    // way is waited for to its end.
    bool FinishUpdateThread(unsigned long timeoutMs);

    // At the end of the program: lets the print thread finish (the caller has asked the run to abort)
    // and disposes of it. False when it is still running after timeoutMs; it is then left alone.
    bool FinishPrintThread(unsigned long timeoutMs);

signals:
    void pBtn_ReplaceExcelText_HasClicked();

public slots:
    void ShowSoftWindow();
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void on_Signal_UpdateSuccess();
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_ReplaceExcelText_clicked();
    void on_ShowDisposingFile(QString filePath);
    void on_Set_pBtn_Enable();
    void ShowFailureList(QString failureListPath); // from the print run; starts the viewer here

private slots:
    void WaitForTrayHost();

private:
    Ui::MainWindow *ui;
    int screenWidth;
    int screenHeight;
    int restoreHeight;
    int restoreWidth;
    QThread *updateThread = nullptr;
    ThreadPost *updateWorker = nullptr;
    QTimer *trayWait = nullptr;
    int trayWaitedMs = 0;
    int trayWaitLimitMs = kTrayWaitMs;
    QThread *printThread;
    ThreadObject *printWorker;
    std::string settingsText;
    // A file too large to be taken in is never written over.
    bool settingsSavable = true;
};
