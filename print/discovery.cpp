// Listing of the chosen folder tree and the test for the documents to print.

#include "print/threadobject.h"

#include "platform/folderlisting.h"

#include <QDir>
#include <QSet>

namespace {

// Canonical paths of the folders entered so far: a folder link that leads back to an ancestor (or to a
// folder listed already) is not entered a second time, so the scan ends and lists each file once.
void ListInto(const QString &path, const QString &canonicalPath, QSet<QString> &visited,
              QFileInfoList &result)
{
    QFileInfoList folders;
    ListFolder(path, result, folders);
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
        ListInto(folder.absoluteFilePath(), canonical, visited, result);
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
    ListInto(path, canonical, visited, result);
    return result;
}

bool ThreadObject::IsPrintableDocument(const QString &path)
{
    const bool wordExtension = path.endsWith(QLatin1String(".doc"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docx"), Qt::CaseSensitive) ||
                               path.endsWith(QLatin1String(".docm"), Qt::CaseSensitive);
    return wordExtension && !path.contains(QLatin1String("~$"));
}
