#include "app/systemtray.h"

#include "app/resources.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

QSystemTrayIcon *TheSystemTray = nullptr;

SystemTray::SystemTray(QObject *parent) : QSystemTrayIcon(parent)
{
    // The menu has no parent: it lives as long as the tray's entry in the panel.
    trayMenu = new QMenu();
    showAction = new QAction(QStringLiteral("软件设置"), this);
    quitAction = new QAction(QStringLiteral("退出程序"), this);
    trayMenu->addAction(showAction);
    trayMenu->addAction(quitAction);
    setContextMenu(trayMenu);

    EnsureQuillmarkResources();
    setIcon(QIcon(QStringLiteral(":/images/kov.ico")));
    setToolTip(QStringLiteral("澄笺"));
    show();

    connect(showAction, SIGNAL(triggered()), this, SLOT(ShowUi()), Qt::UniqueConnection);
    connect(quitAction, SIGNAL(triggered()), this, SLOT(UiQuit()), Qt::UniqueConnection);
}

// The menu has no parent, so it goes with the icon, at the end of the program.
SystemTray::~SystemTray()
{
    delete trayMenu;
}

void SystemTray::UiQuit()
{
    QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}

void SystemTray::ShowBalloon(QString title, QString text, int icon, int milliseconds)
{
    showMessage(title, text, static_cast<QSystemTrayIcon::MessageIcon>(icon), milliseconds);
}
