#pragma once
// The command line of quillmark-print: what to print and how, never the password itself.

#include "print/pagerange.h"
#include "print/wordprocessor.h"

#include <QString>
#include <QStringList>

// How long a watched document must stay unchanged (size and time) before it is taken.
constexpr int kDefaultStableSeconds = 5;
constexpr int kMaxStableSeconds = 3600;

struct PrintCommand
{
    QString folder;
    int delayMs = 0;
    bool delayGiven = false;
    QString printer;      // a CUPS destination; empty: the default destination
    QString passwordFile; // first line is the password
    bool askPassword = false;
    bool quiet = false;
    bool help = false;

    bool check = false;    // open every document, print nothing
    QString passwordsFile; // one password per line, tried in order
    WordProcessor::PrintOptions printOptions;
    QString pdfFolder;      // save PDFs there instead of printing
    bool overwrite = false; // a PDF this program made is replaced
    QString reportPath;     // .csv or .json
    QString fromList;       // take the documents named there

    bool newOnly = false; // skip what the report (and its ledger) say was done and is unchanged since
    bool watch = false;   // keep running, taking each new document once it stopped changing
    int stableSeconds = kDefaultStableSeconds;
    QString doneFolder; // each document done is moved there, at its relative path
};

// The arguments after the program's name. Empty when they make a command; otherwise what is wrong, for
// the user.
QString ParsePrintCommand(const QStringList &arguments, PrintCommand *command);

// The --help text, Chinese and English.
QString PrintCommandHelp();

// The longest pause the window offers; the command line keeps to the same range.
constexpr int kMaxPrintDelayMs = 120000;
// More copies than this are taken for a typing error.
constexpr int kMaxCopies = 999;
