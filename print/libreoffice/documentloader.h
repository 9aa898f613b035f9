#pragma once
// Loading documents into the office: the filter of the file's extension first and the other Word filter
// after it, the password, a retry on a fresh office when the office dies under a load, and the documents
// open now with what is needed to print them or load them again.

#include "print/wordprocessor.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

class OfficeCalls;
class DocumentLinks;

// The filters to try for a file name, in order; none for a name that is no Word document.
std::vector<const char *> FiltersFor(const QString &fileName);

struct DocumentEntry
{
    qint64 size = 0;
    QString path;     // the document's own path
    QString loaded;   // the link the office loads it through (its mark in the name); path when none
    QString jobTitle; // the name the job carries in the queue
    std::string mark;
    std::string filter;
    QString password;
};

class DocumentLoader
{
public:
    DocumentLoader(OfficeCalls &calls, DocumentLinks &links) : calls_(calls), links_(links) {}

    WordProcessor::Document open(const QString &path, const QString &password);
    WordProcessor::OpenFailure lastFailure() const { return lastFailure_; }

    enum class LoadResult
    {
        Opened,
        Refused,
        PasswordRefused,
        OfficeLost,
        CutOff
    };
    // Loads entry once more (on a fresh office) under a new handle.
    LoadResult load(const DocumentEntry &entry, int *handle);
    // The fresh load `handle` takes the place of document under the caller's handle.
    void replace(WordProcessor::Document document, int handle);
    const DocumentEntry *entry(WordProcessor::Document document) const;
    bool isOpen(WordProcessor::Document document) const { return documents_.count(document) > 0; }
    void close(WordProcessor::Document document);
    // At quit: forgets every document and link.
    void forgetAll();

private:
    OfficeCalls &calls_;
    DocumentLinks &links_;
    std::map<int, DocumentEntry> documents_;
    int nextHandle_ = 1;
    int marks_ = 0;
    WordProcessor::OpenFailure lastFailure_ = WordProcessor::OpenFailure::Unknown;
};
