#pragma once
// The word processor on Windows: Word or WPS through the COM class "Word.Application" (ActiveQt).

#include "print/wordprocessor.h"

#include <QHash>
#include <atomic>

class QAxObject;

class AxWordProcessor : public WordProcessor
{
public:
    AxWordProcessor() = default;
    ~AxWordProcessor() override;

    bool create() override;
    void setVisible(bool visible) override;
    void setDisplayAlerts(bool enabled) override;
    bool queryDocuments() override;
    Document open(const QString &path, bool confirmConversions, bool readOnly, bool addToRecentFiles,
                  const QString &passwordDocument, const QString &passwordTemplate, bool revert) override;
    bool printOut(Document document) override;
    void close(Document document, bool saveChanges) override;
    void quit() override;
    void abort() override;

    AxWordProcessor(const AxWordProcessor &) = delete;
    AxWordProcessor &operator=(const AxWordProcessor &) = delete;

private:
    QAxObject *application_ = nullptr; // owns the collection and every document object
    QAxObject *documents_ = nullptr;
    QHash<Document, QAxObject *> opened_;
    Document next_ = 1;
    std::atomic<bool> aborted_{false};
};
