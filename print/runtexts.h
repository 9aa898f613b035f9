#pragma once
// The texts a run gives for the window's label and the command line, worded for what the run does: the
// window only prints; the command line also checks and exports.

#include "print/printjobsettings.h"
#include "print/wordprocessor.h"

#include <QString>

class RunTexts
{
public:
    explicit RunTexts(PrintJobSettingsRecord::Mode mode) : mode_(mode) {}

    QString noWordProcessor() const;
    QString notAnswering() const;
    // Why a word processor that broke down cannot go on; empty while it can.
    QString breakdown(WordProcessor::Breakdown breakdown) const;
    QString noDocuments() const;
    QString aborted() const;
    QString unconfirmed(int count) const;
    QString printOptionsUnsupported() const;
    QString pdfExportUnsupported() const;
    QString noTemporaryFolder() const;
    static QString failureListNotWritten(const QString &path);

private:
    // "打印", "导出" or "检查"
    QString verb() const;
    PrintJobSettingsRecord::Mode mode_;
};
