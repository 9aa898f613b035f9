#pragma once
// The program's only window: the form, the tray icon, the folder choice and the print hand-off.

#include "support/keyfile.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

class QThread;
class ThreadObject;
class ThreadPost;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Where the window takes the primary screen's size from; tests give a fixed size.
    using ScreenSizeSource = void (*)(int *width, int *height);
    static void SetScreenSizeSource(ScreenSizeSource source);

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

private:
    Ui::MainWindow *ui;
    int screenWidth;
    int screenHeight;
    int restoreHeight;
    int restoreWidth;
    QThread *updateThread = nullptr;
    ThreadPost *updateWorker = nullptr;
    QThread *printThread;
    ThreadObject *printWorker;
    char settingsText[kSettingsTextCapacity] = {};
};
