#pragma once
// The update worker: one check per start of the program, on a thread of its own.

#include <QObject>
#include <QString>
#include <atomic>

struct UpdateEnvironment;

// False in a build configured without update servers: the worker is then not started.
bool UpdateServersConfigured();

class ThreadPost : public QObject
{
    Q_OBJECT
public:
    explicit ThreadPost(QObject *parent = nullptr);

    // From any thread: the check gives up at its next step; a pause or a download under way ends soon.
    // A swap already under way is finished, so the program's folder is never left half updated.
    void RequestStop();

    // Tests point the check at servers and files of their own (called at the start of every check, on the
    // worker's thread); also counts as configured servers. The program never sets it.
    using EnvironmentHook = void (*)(UpdateEnvironment &env);
    static void SetEnvironmentHook(EnvironmentHook hook);

signals:
    void Signal_UpdateSuccess();
    // Asks for the tray icon's balloon. The worker never touches the icon: the window connects this to it,
    // so the balloon is shown on the GUI thread, and not at all once the icon is gone.
    void ShowBalloon(QString title, QString text, int icon, int milliseconds);

public slots:
    void startPost();

private:
    std::atomic<bool> stop_{false};
};
