#pragma once
// The update worker: one check per start of the program, on a thread of its own.

#include <QObject>

class QSystemTrayIcon;

// The one tray icon; the window sets it, the worker shows its balloon through it (on the GUI thread).
extern QSystemTrayIcon *TheSystemTray;
extern bool UpdateWorkerStarted;

// False in a build configured without update servers: the worker is then not started.
bool UpdateServersConfigured();

class ThreadPost : public QObject
{
    Q_OBJECT
public:
    explicit ThreadPost(QObject *parent = nullptr);

signals:
    void Signal_UpdateSuccess();

public slots:
    void startPost();
};
