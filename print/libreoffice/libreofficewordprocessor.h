#pragma once
// The word processor on Linux: a private LibreOffice, driven over UNO, printing to the CUPS default
// destination. Every call is bounded in time; an office that hangs or dies is killed and replaced.

#include "print/wordprocessor.h"

#include <memory>

class LibreOfficeWordProcessor : public WordProcessor
{
public:
    // programDir: the office's program folder, holding soffice.bin and fundamentalrc.
    explicit LibreOfficeWordProcessor(const QString &programDir = DefaultProgramDir());
    ~LibreOfficeWordProcessor() override;

    // The folder the build found, unless QUILLMARK_OFFICE_PROGRAM names another one.
    static QString DefaultProgramDir();

    bool create() override;
    void setVisible(bool visible) override;
    void setDisplayAlerts(bool enabled) override;
    bool queryDocuments() override;
    Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                  const QString &passwordDocument, const QString &passwordTemplate, bool revert) override;
    bool printOut(Document document) override;
    void close(Document document, bool saveChanges) override;
    void quit() override;
    QString printerProblem() override;
    bool followsJobs() const override;
    std::vector<JobResult> takeJobResults(Document waitFor) override;
    OpenFailure lastOpenFailure() const override;
    Breakdown breakdown() const override;
    bool setPrintOptions(const PrintOptions &options) override;
    bool exportsPdf() const override { return true; }
    bool exportPdf(Document document, const QString &target) override;
    int pageCount(Document document) override;
    void abort() override;

    // The running office's process id (also its process group), 0 when none runs.
    int officePid() const;

    LibreOfficeWordProcessor(const LibreOfficeWordProcessor &) = delete;
    LibreOfficeWordProcessor &operator=(const LibreOfficeWordProcessor &) = delete;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};
