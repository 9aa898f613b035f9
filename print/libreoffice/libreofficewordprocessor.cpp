#include "print/libreoffice/libreofficewordprocessor.h"

#include "print/libreoffice/documentlinks.h"
#include "print/libreoffice/documentloader.h"
#include "print/libreoffice/officecalls.h"
#include "print/libreoffice/printing.h"
#include "print/libreoffice/unodocument.h"
#include "print/libreoffice/unosession.h"

#include <QFileInfo>
#include <QString>

#include <csignal>
#include <unistd.h>

#ifndef QUILLMARK_OFFICE_PROGRAM
#define QUILLMARK_OFFICE_PROGRAM "/usr/lib/libreoffice/program"
#endif

// The facade: the calls of the print run, handed to the office's parts.
class LibreOfficeWordProcessor::Impl
{
public:
    explicit Impl(const QString &dir)
        : programDir(dir), calls(dir), loader(calls, links), printer(calls, loader)
    {
    }

    QString programDir;
    OfficeCalls calls;
    DocumentLinks links;
    DocumentLoader loader;
    DocumentPrinter printer;
    bool created = false;

    bool create()
    {
        if (created)
            return calls.call([](CallState &s) { return s.alive; }, std::chrono::milliseconds(15000))
                .value_or(false);
        const std::string bin = calls.state->sofficeBin();
        const QString rc = programDir + QStringLiteral("/fundamentalrc");
        if (access(bin.c_str(), X_OK) != 0 || !QFileInfo(rc).isFile())
            return false;
        created = true;
        officefiles::RemoveLeftovers(UnoSession::ProfilePipeName);
        // Writing into an office that has just died must not end this program.
        struct sigaction current;
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
        return calls.begin(rc.toStdString()) && calls.ensureOffice();
    }

    int pageCount(WordProcessor::Document document)
    {
        const int known = printer.knownPages(document);
        if (known >= 0)
            return known;
        if (!loader.isOpen(document) || !calls.usable())
            return -1;
        return calls
            .call(
                [document](CallState &s) {
                    const auto it = s.components.find(document);
                    return it == s.components.end() ? -1 : unodocument::PageCount(it->second);
                },
                calls.progressWatch())
            .value_or(-1);
    }

    bool exportPdf(WordProcessor::Document document, const QString &target)
    {
        if (!loader.isOpen(document) || !calls.usable())
            return false;
        const QString path = links.writablePath(target);
        const auto result = calls.call(
            [document, path, pages = printer.options().pages](CallState &s) {
                const auto it = s.components.find(document);
                if (it == s.components.end())
                    return std::make_pair(unodocument::ExportResult::Failed, -1);
                const unodocument::ExportResult written = unodocument::ExportPdf(it->second, path, pages);
                // Laid out for the export already.
                return std::make_pair(written, written == unodocument::ExportResult::Written
                                                   ? unodocument::PageCount(it->second)
                                                   : -1);
            },
            calls.progressWatch());
        if (!result || result->first == unodocument::ExportResult::BridgeFailed) {
            calls.officeLost();
            return false;
        }
        printer.learnPages(document, result->second);
        return result->first == unodocument::ExportResult::Written;
    }

    void close(WordProcessor::Document document)
    {
        printer.forget(document);
        loader.close(document);
    }

    void quit()
    {
        calls.quit();
        loader.forgetAll();
        created = false;
    }

    void abort()
    {
        calls.abort();
        printer.abort();
    }
};

LibreOfficeWordProcessor::LibreOfficeWordProcessor(const QString &programDir) : d(new Impl(programDir)) {}

LibreOfficeWordProcessor::~LibreOfficeWordProcessor()
{
    d->quit();
    // A call that never returned keeps the call state alive by itself; the call thread is left to it.
}

QString LibreOfficeWordProcessor::DefaultProgramDir()
{
    const QByteArray env = qgetenv("QUILLMARK_OFFICE_PROGRAM");
    return env.isEmpty() ? QStringLiteral(QUILLMARK_OFFICE_PROGRAM) : QString::fromLocal8Bit(env);
}

bool LibreOfficeWordProcessor::create()
{
    return d->create();
}

void LibreOfficeWordProcessor::setVisible(bool)
{
    // The office always runs headless.
}

void LibreOfficeWordProcessor::setDisplayAlerts(bool)
{
    // Every question of the office is answered with Abort by the loader's interaction handler.
}

bool LibreOfficeWordProcessor::queryDocuments()
{
    return d->created && d->calls.ensureOffice();
}

WordProcessor::Document LibreOfficeWordProcessor::open(const QString &path, bool, bool, bool,
                                                       const QString &passwordDocument, const QString &, bool)
{
    return d->loader.open(path, passwordDocument);
}

bool LibreOfficeWordProcessor::printOut(Document document)
{
    return d->printer.printOut(document);
}

void LibreOfficeWordProcessor::close(Document document, bool)
{
    d->close(document);
}

void LibreOfficeWordProcessor::quit()
{
    d->quit();
}

QString LibreOfficeWordProcessor::printerProblem()
{
    return d->printer.printerProblem();
}

bool LibreOfficeWordProcessor::followsJobs() const
{
    return true;
}

std::vector<WordProcessor::JobResult> LibreOfficeWordProcessor::takeJobResults(Document waitFor)
{
    return d->printer.takeJobResults(waitFor);
}

WordProcessor::Breakdown LibreOfficeWordProcessor::breakdown() const
{
    return d->calls.breakdown();
}

WordProcessor::OpenFailure LibreOfficeWordProcessor::lastOpenFailure() const
{
    return d->loader.lastFailure();
}

bool LibreOfficeWordProcessor::setPrintOptions(const PrintOptions &options)
{
    d->printer.setOptions(options);
    return true;
}

bool LibreOfficeWordProcessor::exportPdf(Document document, const QString &target)
{
    return d->exportPdf(document, target);
}

int LibreOfficeWordProcessor::pageCount(Document document)
{
    return d->pageCount(document);
}

void LibreOfficeWordProcessor::abort()
{
    d->abort();
}

int LibreOfficeWordProcessor::officePid() const
{
    return d->calls.state->office.process.group();
}
