#include "platform/viewer.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

// One command string, the path appended unquoted: a path with spaces reaches Notepad in pieces, which it
// joins again. Split as QProcess would split the command itself.
void ShowTextFileInViewer(const QString &path)
{
    const QStringList command =
        QProcess::splitCommand(QStringLiteral("notepad.exe ") + QDir::toNativeSeparators(path));
    QProcess::startDetached(command.first(), command.mid(1));
}
