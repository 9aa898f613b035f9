// Listing of the chosen folder tree and the test for the documents to print.

#include "print/threadobject.h"

#include "platform/listingorder.h"

#include <QDir>
#include <QSet>

namespace {

// Canonical paths of the folders entered so far: a folder link that leads back to an ancestor (or to a
// folder listed already) is not entered a second time, so the scan ends and lists each file once.
void ListInto(const QString &path, const QString &canonicalPath, QSet<QString> &visited,
              QDir::SortFlags order, QFileInfoList &result)
{
    const QDir dir(path);
    result += dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, order);
    const QFileInfoList folders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, order);
    for (const QFileInfo &folder : folders) {
        // A real subfolder's canonical path follows from its parent's; only links need resolving.
        QString canonical;
        if (folder.isSymLink()) {
            canonical = folder.canonicalFilePath();
        } else {
            canonical = canonicalPath;
            if (!canonical.endsWith(QLatin1Char('/')))
                canonical += QLatin1Char('/');
            canonical += folder.fileName();
        }
        if (canonical.isEmpty() || visited.contains(canonical))
            continue;
        visited.insert(canonical);
        ListInto(folder.absoluteFilePath(), canonical, visited, order, result);
    }
}

} // namespace

QFileInfoList ThreadObject::ListFilesRecursively(QString path)
{
    QFileInfoList result;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return result; // missing or unreadable
    QSet<QString> visited{canonical};
    ListInto(path, canonical, visited, FolderListingOrder(), result);
    return result;
}

bool ThreadObject::IsPrintableDocument(const QString &path)
{
    const bool wordExtension = path.endsWith(QLatin1String(".doc"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docx"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docm"), Qt::CaseSensitive);
    return wordExtension && !path.contains(QLatin1String("~$"));
}
