#pragma once
// The word processor as the print run sees it: exactly the automation calls the run makes.
// Implementations: Word/WPS over COM (Windows), LibreOffice over UNO (Linux), and a fake for tests.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QObject;

class WordProcessor
{
public:
    using Document = int; // a handle; documents are released together with the application
    static constexpr Document NoDocument = -1;

    virtual ~WordProcessor() = default;

    // Creates the application object ("Word.Application"). False: no word processor could be started.
    virtual bool create() = 0;
    virtual void setVisible(bool visible) = 0;       // "SetVisible (bool Visible)"
    virtual void setDisplayAlerts(bool enabled) = 0; // property "DisplayAlerts"
    virtual bool queryDocuments() = 0;               // "Documents"; false when there is no collection
    // "Open(...)" with the seven values. NoDocument when the document did not open.
    virtual Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                          const QString &passwordDocument, const QString &passwordTemplate, bool revert) = 0;
    // "PrintOut()". False only when the job is known not to have been printed. Otherwise the job is in
    // the printer's queue: a client that follows its jobs (followsJobs) tells later whether it printed,
    // through takeJobResults; for any other client true means printed.
    virtual bool printOut(Document document) = 0;
    virtual void close(Document document, bool saveChanges) = 0; // "Close (Boolean)"
    virtual void quit() = 0;                                     // "Quit(void)"

    // Jobs followed in the background, so that the next document can load and print meanwhile.
    virtual bool followsJobs() const { return false; }
    struct JobResult
    {
        Document document;
        bool printed;  // the job was seen completed
        int jobId = 0; // the print server's number for the job; 0 when none is known
        // Neither printed nor known not to be: the job could not be followed to its end (it vanished
        // unseen, waited past the limit, or the printer's scheduler could not be asked). Never counted.
        bool unconfirmed = false;
    };
    static constexpr Document AllDocuments = -2;
    // The results of queued jobs that became known since the last call, in no particular order. Waits
    // until the result of waitFor is known (AllDocuments: of every queued job; NoDocument: does not
    // wait), or until abort().
    virtual std::vector<JobResult> takeJobResults(Document waitFor)
    {
        (void)waitFor;
        return {};
    }

    // Checked before each document: an empty text when printing can go ahead, otherwise a message for
    // the user (no default printer, printer stopped, ...). After the first check it also reports a
    // printer that stopped or started rejecting jobs during the run.
    virtual QString printerProblem() { return QString(); }

    // Why the last open() gave NoDocument. Unknown: the client cannot tell (a password may still help).
    enum class OpenFailure
    {
        Unknown,
        WrongPassword, // protected, and the password offered did not open it
        Damaged,       // not a Word document of its kind, damaged, unreadable
        TimedOut       // the word processor hung over it and was ended
    };
    virtual OpenFailure lastOpenFailure() const { return OpenFailure::Unknown; }

    // Whether the word processor can go on with this run. Asked after a call failed: once it says
    // anything but None the run stops, the documents after the current one not tried.
    enum class Breakdown
    {
        None,
        Unavailable, // it died and no fresh one could be started: the current document was not tried
        NotAnswering // a call did not return within its bound and it could not be ended
    };
    virtual Breakdown breakdown() const { return Breakdown::None; }

    // How the next documents are printed. A client that cannot honour options other than the defaults
    // says so by returning false, and the run prints nothing.
    struct PrintOptions
    {
        enum class Duplex
        {
            Printer, // as the printer is set up
            Off,
            LongEdge,
            ShortEdge
        };
        int copies = 1;
        bool collate = false;
        Duplex duplex = Duplex::Printer;
        QString pages; // for example "1-3,5"; empty: every page
        bool isDefault() const
        {
            return copies == 1 && !collate && duplex == Duplex::Printer && pages.isEmpty();
        }
    };
    virtual bool setPrintOptions(const PrintOptions &options) { return options.isDefault(); }

    // Whether exportPdf can work at all: a run that exports stops before the first document otherwise.
    virtual bool exportsPdf() const { return false; }
    // Saves an open document as an unencrypted PDF at target (the pages of the print options only),
    // through the word processor's own export. False when it could not; a partial file may then be left
    // at target, which the caller removes.
    virtual bool exportPdf(Document document, const QString &target)
    {
        (void)document;
        (void)target;
        return false;
    }

    // The number of pages of an open document as the word processor lays it out; -1 when it cannot tell.
    virtual int pageCount(Document document)
    {
        (void)document;
        return -1;
    }

    // Called from another thread when the program ends mid-run: ends the word processor at once so that
    // a call under way returns and nothing is left running. Must be safe to call at any time.
    virtual void abort() {}
};

using WordProcessorFactory = std::function<std::unique_ptr<WordProcessor>()>;

// The factory the print run uses; start-up installs the platform's client, tests install fakes.
void SetWordProcessorFactory(WordProcessorFactory factory);
std::unique_ptr<WordProcessor> CreateWordProcessor();
// The factory installed now (empty when none is).
WordProcessorFactory InstalledWordProcessorFactory();
