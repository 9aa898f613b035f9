#pragma once
// The command line of quillmark-print: what to print and how, never the password itself.

#include "print/wordprocessor.h"

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

    bool check = false;    // open every document, print nothing
    QString passwordsFile; // one password per line, tried in order
    WordProcessor::PrintOptions printOptions;
    QString pdfFolder;      // save PDFs there instead of printing
    bool overwrite = false; // an existing PDF is replaced
    QString reportPath;     // .csv or .json
    QString fromList;       // take the documents named there
};

// True for a page range such as "1-3,5": pages counted from 1, each span ascending, no spaces.
bool IsValidPageRange(const QString &pages);

// The arguments after the program's name. Empty when they make a command; otherwise what is wrong, for
// the user.
QString ParsePrintCommand(const QStringList &arguments, PrintCommand *command);

// The --help text, Chinese and English.
QString PrintCommandHelp();

// The longest pause the window offers; the command line keeps to the same range.
constexpr int kMaxPrintDelayMs = 120000;
// More copies than this are taken for a typing error.
constexpr int kMaxCopies = 999;
