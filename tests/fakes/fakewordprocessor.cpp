#include "tests/fakes/fakewordprocessor.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutexLocker>
#include <vector>

class FakeWordProcessor : public WordProcessor
{
public:
    explicit FakeWordProcessor(std::shared_ptr<FakeOffice> office) : office_(std::move(office))
    {
        QMutexLocker lock(&office_->mutex_);
        ++office_->alive_;
        office_->abortRequested_ = false;
    }
    ~FakeWordProcessor() override
    {
        QMutexLocker lock(&office_->mutex_);
        --office_->alive_;
    }

    bool create() override
    {
        office_->record(QStringLiteral("create"));
        QMutexLocker lock(&office_->mutex_);
        waitUnlessAborted(office_->createDelayMs_);
        return !office_->createFails_ && !office_->abortRequested_;
    }
    void setVisible(bool visible) override
    {
        office_->record(QStringLiteral("setVisible(%1)").arg(boolText(visible)));
    }
    void setDisplayAlerts(bool enabled) override
    {
        office_->record(QStringLiteral("setDisplayAlerts(%1)").arg(boolText(enabled)));
    }
    bool queryDocuments() override
    {
        office_->record(QStringLiteral("queryDocuments"));
        QMutexLocker lock(&office_->mutex_);
        return !office_->documentsFail_;
    }
    Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                  const QString &passwordDocument, const QString &passwordTemplate, bool revert) override
    {
        office_->record(QStringLiteral("open(%1,%2,%3,%4,%5,%6,%7)")
                            .arg(path, boolText(confirmConversions), boolText(readOnly),
                                 boolText(addToRecentFiles), passwordDocument, passwordTemplate,
                                 boolText(revert)));
        QMutexLocker lock(&office_->mutex_);
        waitUnlessAborted(office_->openDelayMs_);
        lastFailure_ = OpenFailure::Damaged;
        if (office_->abortRequested_ || office_->failingPaths_.contains(path))
            return NoDocument;
        if (path == office_->breakdownPath_ && !office_->breakdownAtPrint_) {
            breakdown_ = office_->breakdownKind_;
            lastFailure_ =
                breakdown_ == Breakdown::NotAnswering ? OpenFailure::TimedOut : OpenFailure::Unknown;
            return NoDocument;
        }
        if (office_->timingOutPaths_.contains(path)) {
            lastFailure_ = OpenFailure::TimedOut;
            return NoDocument;
        }
        const auto required = office_->passwords_.constFind(path);
        if (required != office_->passwords_.constEnd() && *required != passwordDocument) {
            lastFailure_ = office_->tellsOpenFailures_ ? OpenFailure::WrongPassword : OpenFailure::Unknown;
            return NoDocument;
        }
        documents_.push_back(path);
        return static_cast<Document>(documents_.size() - 1);
    }
    bool printOut(Document document) override
    {
        const QString path = pathOf(document);
        office_->record(QStringLiteral("printOut(%1)").arg(path));
        QMutexLocker lock(&office_->mutex_);
        waitUnlessAborted(office_->printDelayMs_);
        if (office_->abortRequested_ || office_->printFailingPaths_.contains(path))
            return false;
        if (path == office_->breakdownPath_ && office_->breakdownAtPrint_) {
            breakdown_ = office_->breakdownKind_;
            return false;
        }
        if (!office_->followsJobs_) {
            office_->printed_.append(path);
            return true;
        }
        queued_.push_back(document);
        if (path == office_->stopAfterPath_) {
            office_->printerProblem_ = office_->stopText_;
            office_->jobsChanged_.wakeAll();
        }
        return true;
    }
    OpenFailure lastOpenFailure() const override { return lastFailure_; }
    Breakdown breakdown() const override { return breakdown_; }
    bool setPrintOptions(const PrintOptions &options) override
    {
        static const char *const duplex[] = {"printer", "off", "long", "short"};
        office_->record(
            QStringLiteral("setPrintOptions(copies=%1,collate=%2,duplex=%3,pages=%4)")
                .arg(options.copies)
                .arg(boolText(options.collate), QLatin1String(duplex[int(options.duplex)]), options.pages));
        QMutexLocker lock(&office_->mutex_);
        return !office_->optionsRefused_;
    }
    bool exportsPdf() const override
    {
        QMutexLocker lock(&office_->mutex_);
        return !office_->exportUnsupported_;
    }
    bool exportPdf(Document document, const QString &target) override
    {
        const QString path = pathOf(document);
        office_->record(QStringLiteral("exportPdf(%1)").arg(path));
        {
            QMutexLocker lock(&office_->mutex_);
            if (office_->exportFailingPaths_.contains(path))
                return false;
        }
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return false;
        return file.write("%PDF fake of " + path.toUtf8()) > 0;
    }
    int pageCount(Document document) override
    {
        QMutexLocker lock(&office_->mutex_);
        return office_->pageCounts_.value(pathOf(document), -1);
    }
    bool followsJobs() const override
    {
        QMutexLocker lock(&office_->mutex_);
        return office_->followsJobs_;
    }
    std::vector<JobResult> takeJobResults(Document waitFor) override
    {
        QMutexLocker lock(&office_->mutex_);
        auto settled = [&] {
            return office_->abortRequested_ || !office_->jobsHeld_ || !office_->printerProblem_.isEmpty();
        };
        if (waitFor != NoDocument) {
            while (!settled() && !queued_.empty())
                office_->jobsChanged_.wait(&office_->mutex_);
        }
        std::vector<JobResult> results;
        if (office_->abortRequested_)
            return results; // the jobs are left in the queue
        if (office_->jobsHeld_ && office_->printerProblem_.isEmpty())
            return results;
        for (Document document : queued_) {
            const QString path = pathOf(document);
            // A stopped printer cancels what was held in its queue.
            const bool unconfirmed = office_->jobUnconfirmedPaths_.contains(path);
            const bool printed = !office_->jobFailingPaths_.contains(path) && !unconfirmed &&
                                 !(office_->jobsHeld_ && !office_->printerProblem_.isEmpty());
            if (printed)
                office_->printed_.append(path);
            JobResult result{document, printed, 100 + int(document)};
            result.unconfirmed = unconfirmed;
            results.push_back(result);
        }
        queued_.clear();
        return results;
    }
    void close(Document document, bool saveChanges) override
    {
        office_->record(QStringLiteral("close(%1,%2)").arg(pathOf(document), boolText(saveChanges)));
    }
    void quit() override { office_->record(QStringLiteral("quit")); }
    QString printerProblem() override
    {
        office_->record(QStringLiteral("printerProblem"));
        QMutexLocker lock(&office_->mutex_);
        return office_->printerProblem_;
    }
    void abort() override
    {
        office_->record(QStringLiteral("abort"));
        QMutexLocker lock(&office_->mutex_);
        office_->abortRequested_ = true;
        office_->aborted_.wakeAll();
        office_->jobsChanged_.wakeAll();
    }

private:
    // Called with the office's mutex held.
    void waitUnlessAborted(int milliseconds)
    {
        QDeadlineTimer deadline(milliseconds);
        while (!office_->abortRequested_ && !deadline.hasExpired())
            office_->aborted_.wait(&office_->mutex_, deadline);
    }
    static QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
    QString pathOf(Document document) const
    {
        if (document < 0 || static_cast<size_t>(document) >= documents_.size())
            return QStringLiteral("<no document>");
        return documents_[static_cast<size_t>(document)];
    }

    std::shared_ptr<FakeOffice> office_;
    std::vector<QString> documents_; // only touched by the run's thread
    std::vector<Document> queued_;   // jobs without a result yet, in the order queued
    OpenFailure lastFailure_ = OpenFailure::Unknown;
    Breakdown breakdown_ = Breakdown::None;
};

void FakeOffice::record(const QString &call)
{
    QMutexLocker lock(&mutex_);
    calls_.append(call);
}

void FakeOffice::setCreateFails(bool fails)
{
    QMutexLocker lock(&mutex_);
    createFails_ = fails;
}

void FakeOffice::setDocumentsFail(bool fails)
{
    QMutexLocker lock(&mutex_);
    documentsFail_ = fails;
}

void FakeOffice::setPrinterProblem(const QString &text)
{
    QMutexLocker lock(&mutex_);
    printerProblem_ = text;
}

void FakeOffice::addFailingPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    failingPaths_.insert(path);
}

void FakeOffice::setRequiredPassword(const QString &path, const QString &password)
{
    QMutexLocker lock(&mutex_);
    passwords_.insert(path, password);
}

void FakeOffice::addPrintFailingPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    printFailingPaths_.insert(path);
}

void FakeOffice::setCreateDelayMs(int milliseconds)
{
    QMutexLocker lock(&mutex_);
    createDelayMs_ = milliseconds;
}

void FakeOffice::setOpenDelayMs(int milliseconds)
{
    QMutexLocker lock(&mutex_);
    openDelayMs_ = milliseconds;
}

void FakeOffice::setPrintDelayMs(int milliseconds)
{
    QMutexLocker lock(&mutex_);
    printDelayMs_ = milliseconds;
}

void FakeOffice::setFollowsJobs(bool follows)
{
    QMutexLocker lock(&mutex_);
    followsJobs_ = follows;
}

void FakeOffice::setJobsHeld(bool held)
{
    QMutexLocker lock(&mutex_);
    jobsHeld_ = held;
    jobsChanged_.wakeAll();
}

void FakeOffice::addJobFailingPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    jobFailingPaths_.insert(path);
}

void FakeOffice::addJobUnconfirmedPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    jobUnconfirmedPaths_.insert(path);
}

void FakeOffice::setPrinterStopsAfter(const QString &path, const QString &text)
{
    QMutexLocker lock(&mutex_);
    stopAfterPath_ = path;
    stopText_ = text;
}

void FakeOffice::addTimingOutPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    timingOutPaths_.insert(path);
}

void FakeOffice::setTellsOpenFailures(bool tells)
{
    QMutexLocker lock(&mutex_);
    tellsOpenFailures_ = tells;
}

void FakeOffice::setPrintOptionsRefused(bool refused)
{
    QMutexLocker lock(&mutex_);
    optionsRefused_ = refused;
}

void FakeOffice::setPdfExportUnsupported(bool unsupported)
{
    QMutexLocker lock(&mutex_);
    exportUnsupported_ = unsupported;
}

void FakeOffice::addExportFailingPath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    exportFailingPaths_.insert(path);
}

void FakeOffice::setPageCount(const QString &path, int pages)
{
    QMutexLocker lock(&mutex_);
    pageCounts_.insert(path, pages);
}

void FakeOffice::setBreakdownAt(const QString &path, WordProcessor::Breakdown kind, bool atPrint)
{
    QMutexLocker lock(&mutex_);
    breakdownPath_ = path;
    breakdownKind_ = kind;
    breakdownAtPrint_ = atPrint;
}

QStringList FakeOffice::calls() const
{
    QMutexLocker lock(&mutex_);
    return calls_;
}

QStringList FakeOffice::printedPaths() const
{
    QMutexLocker lock(&mutex_);
    return printed_;
}

int FakeOffice::instancesAlive() const
{
    QMutexLocker lock(&mutex_);
    return alive_;
}

std::shared_ptr<FakeOffice> InstallFakeWordProcessor()
{
    auto office = std::make_shared<FakeOffice>();
    SetWordProcessorFactory([office]() { return std::make_unique<FakeWordProcessor>(office); });
    return office;
}

void UninstallFakeWordProcessor()
{
    SetWordProcessorFactory(nullptr);
}
