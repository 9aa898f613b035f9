#include "platform/viewer.h"

#include <QDir>
#include <QProcess>

// Notepad with the path appended as is: a path with spaces reaches Notepad in pieces, which it joins again.
void ShowTextFileInViewer(const QString &path)
{
    QProcess::startDetached(QStringLiteral("notepad.exe ") + QDir::toNativeSeparators(path));
}
