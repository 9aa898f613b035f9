#pragma once
// quillmark-print: one print run of a folder from the command line, through the window's print run.

#include "cli/printcommand.h"
#include "cli/runaccount.h"

#include <QString>
#include <QStringList>

class QTextStream;

// Runs the command with the word processor installed for the print run, reporting on out (progress and
// summary, unless quiet) and err (problems). Needs a QCoreApplication; SIGINT, SIGTERM and SIGHUP (or
// QCoreApplication::quit) end the run early. Neither opens a viewer nor touches the window's settings.
// The exit code as ExitCodeOf (cli/runaccount.h).
int ExecutePrintCommand(const PrintCommand &command, const QString &password, QTextStream &out,
                        QTextStream &err);

// The same with passwords (from a passwords file): each document is offered them in order; empty: password
// alone.
int ExecutePrintCommand(const PrintCommand &command, const QString &password, const QStringList &passwords,
                        QTextStream &out, QTextStream &err);

// The whole program: arguments, password, then ExecutePrintCommand.
int RunPrintCommandLine(int argc, char *argv[]);
