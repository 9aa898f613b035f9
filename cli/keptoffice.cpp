#include "cli/keptoffice.h"

#include <QMutex>
#include <QMutexLocker>

struct KeptOffice::Shared
{
    WordProcessorFactory factory;
    QMutex mutex;
    std::unique_ptr<WordProcessor> office; // created and called on the runs' thread
    bool created = false;
};

namespace {

class StandIn : public WordProcessor
{
public:
    explicit StandIn(std::shared_ptr<KeptOffice::Shared> shared) : shared_(std::move(shared)) {}

    bool create() override
    {
        WordProcessor *kept = office();
        if (kept && shared_->created && kept->breakdown() == Breakdown::None)
            return true;
        std::unique_ptr<WordProcessor> fresh = shared_->factory ? shared_->factory() : nullptr;
        const bool created = fresh && fresh->create();
        QMutexLocker lock(&shared_->mutex);
        if (shared_->office)
            shared_->office->quit();
        shared_->office = std::move(fresh);
        shared_->created = created;
        return created;
    }
    void setVisible(bool visible) override { office()->setVisible(visible); }
    void setDisplayAlerts(bool enabled) override { office()->setDisplayAlerts(enabled); }
    bool queryDocuments() override { return office()->queryDocuments(); }
    Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                  const QString &passwordDocument, const QString &passwordTemplate, bool revert) override
    {
        return office()->open(path, confirmConversions, readOnly, addToRecentFiles, passwordDocument,
                              passwordTemplate, revert);
    }
    bool printOut(Document document) override { return office()->printOut(document); }
    void close(Document document, bool saveChanges) override { office()->close(document, saveChanges); }
    void quit() override {} // the office stays for the next run
    bool followsJobs() const override { return office()->followsJobs(); }
    std::vector<JobResult> takeJobResults(Document waitFor) override
    {
        return office()->takeJobResults(waitFor);
    }
    QString printerProblem() override { return office()->printerProblem(); }
    OpenFailure lastOpenFailure() const override { return office()->lastOpenFailure(); }
    Breakdown breakdown() const override { return office()->breakdown(); }
    bool setPrintOptions(const PrintOptions &options) override { return office()->setPrintOptions(options); }
    bool exportsPdf() const override { return office()->exportsPdf(); }
    bool exportPdf(Document document, const QString &target) override
    {
        return office()->exportPdf(document, target);
    }
    int pageCount(Document document) override { return office()->pageCount(document); }
    void abort() override
    {
        QMutexLocker lock(&shared_->mutex);
        if (shared_->office)
            shared_->office->abort();
    }

private:
    // Only called once create() succeeded, so an office is there.
    WordProcessor *office() const
    {
        QMutexLocker lock(&shared_->mutex);
        return shared_->office.get();
    }
    std::shared_ptr<KeptOffice::Shared> shared_;
};

} // namespace

KeptOffice::KeptOffice() : shared_(std::make_shared<Shared>()), previous_(InstalledWordProcessorFactory())
{
    shared_->factory = previous_;
    std::shared_ptr<Shared> shared = shared_;
    SetWordProcessorFactory([shared]() -> std::unique_ptr<WordProcessor> {
        if (!shared->factory)
            return nullptr;
        return std::make_unique<StandIn>(shared);
    });
}

KeptOffice::~KeptOffice()
{
    SetWordProcessorFactory(previous_);
    end();
}

void KeptOffice::end()
{
    std::unique_ptr<WordProcessor> office;
    {
        QMutexLocker lock(&shared_->mutex);
        office = std::move(shared_->office);
        shared_->created = false;
    }
    if (office)
        office->quit();
}
