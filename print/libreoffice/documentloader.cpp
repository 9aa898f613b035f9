#include "print/libreoffice/documentloader.h"

#include "platform/filename.h"
#include "print/libreoffice/documentlinks.h"
#include "print/libreoffice/jobpolicy.h"
#include "print/libreoffice/officecalls.h"
#include "print/libreoffice/unodocument.h"

#include <QDir>

#include <sys/stat.h>

using namespace com::sun::star;

namespace {

// The size of a regular file as the file system names it; -1 when there is none.
qint64 FileSize(const QString &path)
{
    struct stat info;
    if (::stat(EncodeFileName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return info.st_size;
}

} // namespace

std::vector<const char *> FiltersFor(const QString &fileName)
{
    // A real Word file with the other Word extension opens with the other one.
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
    if (suffix == QLatin1String("docx"))
        return {"MS Word 2007 XML", "MS Word 97"};
    if (suffix == QLatin1String("doc"))
        return {"MS Word 97", "MS Word 2007 XML"};
    if (suffix == QLatin1String("docm"))
        return {"MS Word 2007 XML VBA", "MS Word 97"};
    return {};
}

DocumentLoader::LoadResult DocumentLoader::load(const DocumentEntry &entry, int *handle)
{
    const int h = nextHandle_++;
    const std::optional<unodocument::LoadResult> result = calls_.call(
        [h, loaded = entry.loaded, path = entry.path, filter = entry.filter,
         password = entry.password](CallState &s) {
            const unodocument::Loaded done =
                unodocument::Load(s.session.desktop(), loaded, filter, password, path);
            if (done.result == unodocument::LoadResult::Opened)
                s.components[h] = done.component;
            return done.result;
        },
        calls_.progressWatch());
    if (!result) {
        calls_.officeLost();
        return LoadResult::CutOff;
    }
    switch (*result) {
    case unodocument::LoadResult::Opened:
        documents_[h] = entry;
        *handle = h;
        calls_.documentLoaded();
        return LoadResult::Opened;
    case unodocument::LoadResult::PasswordRefused:
        return LoadResult::PasswordRefused;
    case unodocument::LoadResult::BridgeFailed:
        return calls_.officeLost() ? LoadResult::OfficeLost : LoadResult::Refused;
    case unodocument::LoadResult::Refused:
        break;
    }
    return LoadResult::Refused;
}

WordProcessor::Document DocumentLoader::open(const QString &path, const QString &password)
{
    lastFailure_ = WordProcessor::OpenFailure::Damaged;
    if (!calls_.begun() || !calls_.usable())
        return WordProcessor::NoDocument;
    const qint64 size = FileSize(path);
    // An empty file would open as an empty document; Word refuses it, and so do we.
    if (size <= 0)
        return WordProcessor::NoDocument;
    // The path is taken apart as text: QFileInfo would pass it through the locale's codec and lose bytes
    // that are not UTF-8.
    const std::vector<const char *> filters = FiltersFor(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    if (filters.empty())
        return WordProcessor::NoDocument;

    DocumentEntry entry;
    entry.size = size;
    entry.path = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    entry.mark = jobs::Mark(links_.runToken(), ++marks_);
    entry.loaded = links_.markedLink(entry.path, entry.mark);
    if (entry.loaded.isEmpty()) {
        // No private folder: the document is loaded as it is, and its job cannot be told apart.
        entry.loaded = entry.path;
        entry.mark.clear();
    }
    entry.jobTitle = entry.loaded.mid(entry.loaded.lastIndexOf(QLatin1Char('/')) + 1);
    entry.password = password;
    bool retriedAfterLoss = false;
    calls_.renewIfGrown();
    for (size_t i = 0; i < filters.size();) {
        if (!calls_.ensureOffice())
            break;
        entry.filter = filters[i];
        int handle = WordProcessor::NoDocument;
        switch (load(entry, &handle)) {
        case LoadResult::Opened:
            lastFailure_ = WordProcessor::OpenFailure::Unknown;
            return handle;
        case LoadResult::PasswordRefused:
            // A wrong password stays wrong with the other filter. The office stays: the next password is
            // tried on it.
            lastFailure_ = WordProcessor::OpenFailure::WrongPassword;
            links_.drop(entry.loaded == entry.path ? QString() : entry.loaded);
            return WordProcessor::NoDocument;
        case LoadResult::CutOff:
            // A hang would only repeat.
            lastFailure_ = WordProcessor::OpenFailure::TimedOut;
            links_.drop(entry.loaded == entry.path ? QString() : entry.loaded);
            return WordProcessor::NoDocument;
        case LoadResult::OfficeLost:
            // The office died under the load before its deadline (killed from outside, or crashed): once
            // more on a fresh office; a file that brings it down twice is not opened.
            if (retriedAfterLoss || calls_.aborted())
                break;
            retriedAfterLoss = true;
            continue;
        case LoadResult::Refused:
            ++i;
            continue;
        }
        break;
    }
    // No office could be had: the document was never really tried (breakdown() says so).
    if (calls_.breakdown() == WordProcessor::Breakdown::Unavailable)
        lastFailure_ = WordProcessor::OpenFailure::Unknown;
    links_.drop(entry.loaded == entry.path ? QString() : entry.loaded);
    return WordProcessor::NoDocument;
}

void DocumentLoader::replace(WordProcessor::Document document, int handle)
{
    calls_.call(
        [document, handle](CallState &s) {
            s.components[document] = s.components[handle];
            s.components.erase(handle);
            return true;
        },
        std::chrono::milliseconds(15000));
    documents_.erase(handle);
}

const DocumentEntry *DocumentLoader::entry(WordProcessor::Document document) const
{
    const auto it = documents_.find(document);
    return it == documents_.end() ? nullptr : &it->second;
}

void DocumentLoader::close(WordProcessor::Document document)
{
    const auto it = documents_.find(document);
    if (it == documents_.end())
        return;
    const QString link = it->second.loaded == it->second.path ? QString() : it->second.loaded;
    documents_.erase(it);
    if (!calls_.wedged()) {
        const std::optional<bool> closed = calls_.call(
            [document](CallState &s) {
                const auto found = s.components.find(document);
                if (found == s.components.end())
                    return true;
                uno::Reference<lang::XComponent> component = found->second;
                s.components.erase(found);
                if (!component.is())
                    return true;
                try {
                    unodocument::Close(component);
                } catch (const uno::Exception &) {
                    return false;
                }
                return true;
            },
            calls_.progressWatch());
        if (!closed.value_or(false))
            calls_.officeLost();
    }
    links_.drop(link);
}

void DocumentLoader::forgetAll()
{
    documents_.clear();
    links_.removeAll();
}
