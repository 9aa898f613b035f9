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

    // From any thread: the check gives up at its next step; a pause, a download or an unpacking under way
    // ends soon (what was unpacked is removed). A swap already under way is finished: see SwapUnderWay.
    void RequestStop();
    // From any thread: a swap has begun and is not over. Whoever ends the program waits for it (it only
    // renames files); should the program be killed all the same, its next start finishes or undoes it.
    bool SwapUnderWay() const;

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
    std::atomic<bool> swapping_{false};
};
