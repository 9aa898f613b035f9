#include "platform/termsignal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <windows.h>

namespace {

// Called on a thread the system starts for the event; the quit is queued to the application's thread.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (application == nullptr)
        return FALSE;
    QMetaObject::invokeMethod(
        application, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // The console is closing, or the user logs off: the process ends as soon as this returns, so it waits
    // here for the program to end on its own (the system allows a few seconds).
    Sleep(INFINITE);
    return TRUE;
}

} // namespace

// A program ended with TerminateProcess cannot notice it; Ctrl+C, Ctrl+Break and a closing console can be
// heard, and a print run cut off without its clean-up would leave the word processor running invisibly.
void QuitOnTerminationSignals(bool)
{
    static bool installed = false;
    if (installed || QCoreApplication::instance() == nullptr)
        return;
    installed = true;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
