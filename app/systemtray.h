#pragma once
// The program's icon in the notification area, with its menu "软件设置" / "退出程序".

#include <QSystemTrayIcon>

class QAction;
class QMenu;

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
};
