#pragma once
// quillmark-print --watch: a folder tree watched as an inbox. Each Word document that appears in it (or
// changes) is printed, or exported, once it has stayed the same (size and time) for a while, exactly once
// even across restarts: the ledger beside the report says what was taken. One office serves every batch.
// The folders are watched for changes, and the whole tree is looked at again now and then besides, so a
// change the watch missed is found all the same.

#include "cli/printprepare.h"

#include <QTextStream>

// Watches until a termination signal (or QCoreApplication::quit): 0 then; a document under way when it
// comes is cut off as a run's would be.
int WatchFolder(PreparedRun &run, int stableSeconds, QTextStream &out, QTextStream &err);
