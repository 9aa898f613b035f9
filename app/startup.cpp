#include "app/startup.h"

#include "app/mainwindow.h"
#include "platform/localcodec.h"
#include "platform/process.h"
#include "platform/selfpath.h"
#include "platform/termsignal.h"
#include "print/nativewordprocessor.h"
#include "print/threadobject.h"
#include "support/startpaths.h"

#include <QApplication>
#include <climits>

namespace {
// How long the end of the program waits for an aborted print run to let go of its word processor: as
// long as it takes, since the run's state goes with the window. Every wait of the run hears the abort.
constexpr unsigned long kPrintThreadEndMs = ULONG_MAX;
} // namespace

int RunQuillmark(int argc, char *argv[])
{
    char ownPath[kStartPathSize] = {};
    const char *exePath = argc > 0 && argv[0] ? argv[0] : "";
    if (OwnExecutablePath(exePath, ownPath, sizeof ownPath) == 0)
        exePath = ownPath;
    InitStartPaths(argc > 1 ? argv[1] : nullptr, exePath, NativeSeparator());

    // The count includes this process, so more than one means an older instance is running.
    const char *instanceName = InstanceExecutableName();
    if (CountProcessesByName(instanceName) > 1)
        TerminateProcessByName(instanceName);

    InitLocal8BitCodec();
    QApplication *application = new QApplication(argc, argv);
    QuitOnTerminationSignals();
    InstallNativeWordProcessor();

    MainWindow *window = new MainWindow();
    const int exitCode = application->exec();

    // A run cut off by the end of the program must not leave its word processor behind, and its thread
    // must be over before the window and the application go.
    ThreadObject::AbortRuns();
    window->FinishPrintThread(kPrintThreadEndMs);
    delete window;
    delete application;
    return exitCode;
}
