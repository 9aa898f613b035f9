#pragma once
// The settings of the current print run: written by the window before a worker exists, read by the worker.

#include "print/wordprocessor.h"

#include <QString>
#include <QStringList>
#include <cstdint>

struct PrintJobSettingsRecord
{
    QString sourcePath;
    QString password;
    int32_t delayMs = 0;
    QString failureListPath;

    // Only the command line sets what follows; the window leaves the defaults, which print as always.
    enum class Mode
    {
        Print,
        Check,    // open every document, print nothing
        ExportPdf // save each document as PDF under pdfFolder instead of printing
    };
    Mode mode = Mode::Print;
    // Tried in order for each document, the first that opens it is used; empty: password alone.
    QStringList passwords{};
    WordProcessor::PrintOptions printOptions{};
    QString pdfFolder{}; // ends in "/"; the documents' paths below sourcePath are kept below it
    bool overwritePdf = false;
    // The documents to take, in this order, instead of every document of the tree (native paths below
    // sourcePath). Those that are gone or are not documents are reported not tried.
    bool useDocumentList = false;
    QStringList documentList{};
};

extern PrintJobSettingsRecord PrintJobSettings;
