#include "platform/viewer.h"

#include <QDesktopServices>
#include <QUrl>

// The desktop's default viewer (xdg-open); the file URL keeps the path a single argument.
void ShowTextFileInViewer(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
