#pragma once
// Everything quillmark-print looks at before a run starts: the folder, the lists and files it reads, the
// report and ledger it will carry on, the printer and the folders it writes to. Nothing is written, and no
// office starts, until all of it is known good.

#include "cli/printcommand.h"
#include "cli/printledger.h"
#include "cli/printreport.h"
#include "cli/runaccount.h"

#include <QHash>
#include <QTextStream>
#include <memory>

class BatchRun;

struct PreparedRun
{
    RunSetup setup;
    std::unique_ptr<PrintReport> report;
    std::unique_ptr<PrintLedger> ledger; // with --new-only and --watch
    // What earlier runs did with each document, by path relative to the folder: the report's rows, and
    // over them the ledger's.
    QHash<QString, PrintLedger::Entry> records;
};

// The failure lists in the folder: the print run's (the window's too), and the PDF export's own.
extern const char kFailureListName[];
extern const char kPdfFailureListName[];

// Fills run from the command. -1 when it is ready; otherwise the exit code, the reason written to err.
int PrepareRun(const PrintCommand &command, const QString &password, const QStringList &passwords,
               QTextStream &err, PreparedRun *run);

// What the run tells goes to the account.
void ConnectAccount(BatchRun &batch, RunAccount &account);

// Keeps the ledger (if any) as the run goes: before each document is opened, and once its outcome is known.
void KeepLedger(BatchRun &batch, const PreparedRun &run);

// Documents an earlier run began and never finished (it was killed): they may have printed, so they are
// told as unconfirmed, and recorded so.
void TellUnfinished(PreparedRun &run, RunAccount &account);
