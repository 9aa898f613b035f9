#pragma once
// The command line of quillmark-print: what to print and how, never the password itself.

#include <QString>
#include <QStringList>

struct PrintCommand
{
    QString folder;
    int delayMs = 0;
    QString printer;      // a CUPS destination; empty: the default destination
    QString passwordFile; // first line is the password
    bool askPassword = false;
    bool quiet = false;
    bool help = false;
};

// The arguments after the program's name. Empty when they make a command; otherwise what is wrong, for
// the user.
QString ParsePrintCommand(const QStringList &arguments, PrintCommand *command);

// The --help text, Chinese and English.
QString PrintCommandHelp();

// The longest pause the window offers; the command line keeps to the same range.
constexpr int kMaxPrintDelayMs = 120000;
