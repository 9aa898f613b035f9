// Listing of the chosen folder tree and the test for the documents to print.

#include "print/threadobject.h"

#include "platform/folderlisting.h"

#include <QSet>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// File paths in listing order, handed from the thread that reads the folders to the one that builds the
// result: on large trees both halves cost about the same, so they overlap.
class PathQueue
{
public:
    void push(QStringList &&paths)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batches_.push_back(std::move(paths));
        ready_.notify_one();
    }
    void finish()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        ready_.notify_one();
    }
    // Everything queued so far; false once the reader is finished and nothing is left.
    bool take(std::vector<QStringList> &batches)
    {
        batches.clear();
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return finished_ || !batches_.empty(); });
        batches.swap(batches_);
        return !batches.empty();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<QStringList> batches_;
    bool finished_ = false;
};

// Depth first, a folder's own files before its subfolders. Canonical paths of the folders entered so far:
// a folder link that leads back to an ancestor (or to a folder listed already) is not entered a second
// time, so the scan ends and lists each file once. Folders that cannot be read are noted, not passed over.
std::mutex hookMutex;
ThreadObject::FolderScanHook &scanHook()
{
    static ThreadObject::FolderScanHook hook;
    return hook;
}

struct ScanControl
{
    std::function<bool()> stop;
    ThreadObject::FolderScanHook hook;
    bool stopped = false;
    // Asked before each folder: a scan of a huge or slow tree hears an abort between two folders.
    bool shouldStop(const QString &folder)
    {
        if (!stopped && hook)
            hook(folder);
        if (!stopped && stop && stop())
            stopped = true;
        return stopped;
    }
};

void Walk(const QString &path, const QString &canonicalPath, QSet<QString> &visited, PathQueue &queue,
          QStringList &unreadable, ScanControl &control)
{
    if (control.shouldStop(path))
        return;
    QStringList files;
    std::vector<FolderEntry> folders;
    if (!ListFolder(path, files, folders))
        unreadable.append(path);
    if (!files.isEmpty())
        queue.push(std::move(files));
    for (const FolderEntry &folder : folders) {
        // A real subfolder's canonical path follows from its parent's; only links need resolving.
        QString canonical;
        if (folder.isLink) {
            canonical = CanonicalFolderPath(folder.path);
        } else {
            canonical = canonicalPath;
            if (!canonical.endsWith(QLatin1Char('/')))
                canonical += QLatin1Char('/');
            canonical += folder.path.mid(folder.path.lastIndexOf(QLatin1Char('/')) + 1);
        }
        if (canonical.isEmpty()) {
            unreadable.append(folder.path); // a link that vanished or cannot be followed any more
            continue;
        }
        if (visited.contains(canonical))
            continue;
        visited.insert(canonical);
        Walk(folder.path, canonical, visited, queue, unreadable, control);
        if (control.stopped)
            return;
    }
}

} // namespace

QFileInfoList ThreadObject::ListFilesRecursively(QString path)
{
    return ListFilesRecursively(std::move(path), nullptr, nullptr);
}

void ThreadObject::SetFolderScanHook(FolderScanHook hook)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    scanHook() = std::move(hook);
}

QFileInfoList ThreadObject::ListFilesRecursively(QString path, QStringList *unreadableFolders)
{
    return ListFilesRecursively(std::move(path), unreadableFolders, nullptr);
}

QFileInfoList ThreadObject::ListFilesRecursively(QString path, QStringList *unreadableFolders,
                                                 const std::function<bool()> &stop)
{
    QFileInfoList result;
    const QString canonical = CanonicalFolderPath(path);
    if (canonical.isEmpty())
        return result; // missing

    PathQueue queue;
    QStringList unreadable; // written by the reader, read after it is joined
    ScanControl control;
    control.stop = stop;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        control.hook = scanHook();
    }
    auto walkAll = [&path, &canonical, &queue, &unreadable, &control] {
        QSet<QString> visited{canonical};
        Walk(path, canonical, visited, queue, unreadable, control);
        queue.finish();
    };
    std::thread reader;
    try {
        reader = std::thread(walkAll);
    } catch (const std::system_error &) {
        walkAll(); // no thread to be had: read everything first
    }
    std::vector<QStringList> batches;
    while (queue.take(batches)) {
        for (const QStringList &batch : batches) {
            for (const QString &file : batch)
                result.append(QFileInfo(file));
        }
    }
    if (reader.joinable())
        reader.join();
    if (unreadableFolders)
        *unreadableFolders = unreadable;
    return result;
}

bool ThreadObject::IsPrintableDocument(const QString &path)
{
    const bool wordExtension = path.endsWith(QLatin1String(".doc"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docx"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docm"), Qt::CaseSensitive);
    return wordExtension && !path.contains(QLatin1String("~$"));
}
