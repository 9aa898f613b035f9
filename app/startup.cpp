#include "app/startup.h"

#include "app/mainwindow.h"
#include "platform/localcodec.h"
#include "platform/process.h"
#include "platform/selfpath.h"
#include "platform/termsignal.h"
#include "print/nativewordprocessor.h"
#include "print/threadobject.h"
#include "support/startpaths.h"
#include "update/swap.h"
#include "update/threadpost.h"

#include <QApplication>
#include <climits>

namespace {
// How long the end of the program waits for an aborted print run to let go of its word processor: as
// long as it takes, since the run's state goes with the window. Every wait of the run hears the abort.
constexpr unsigned long kPrintThreadEndMs = ULONG_MAX;
// An aborted run lets go within this time (every wait of the run hears the abort); a newer instance
// ending this one waits longer than this one's whole clean-up may take.
constexpr unsigned long kPrintRunAbortMs = 2000;
static_assert(kPrintRunAbortMs + MainWindow::kUpdateThreadEndMs < kTerminateGraceMs,
              "the instance guard would kill an instance during its own end");
} // namespace

int RunQuillmark(int argc, char *argv[])
{
    InitStartPathsFromCommandLine(argc, argv);

    // The count includes this process, so more than one means an older instance is running.
    const char *instanceName = InstanceExecutableName();
    if (CountProcessesByName(instanceName) > 1)
        TerminateProcessByName(instanceName);
    // An update that a crash, a kill or a power cut cut short is finished or undone before anything else:
    // the older instance that ran it has just been ended.
    if (UpdateServersConfigured())
        RecoverUnfinishedUpdates(AppDir);

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
