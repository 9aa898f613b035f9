#pragma once
// The program's icon in the notification area, with its menu "软件设置" / "退出程序".

#include <QSystemTrayIcon>

class QAction;
class QMenu;

// The one tray icon; the window sets it on the GUI thread and clears it when the icon goes.
extern QSystemTrayIcon *TheSystemTray;

class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT
public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

    QMenu *trayMenu;
    QAction *showAction;
    QAction *quitAction;

signals:
    void showWidget();

public slots:
    void UiQuit();
    void ShowUi();
    // The update worker's balloon, delivered as a queued call on the GUI thread.
    void ShowBalloon(QString title, QString text, int icon, int milliseconds);
};
