#include "cli/printinputs.h"

#include "cli/printreport.h"
#include "platform/filename.h"
#include "platform/folderlisting.h"
#include "print/documentoutcome.h"
#include "print/failurelist.h"

#include <QDir>
#include <QSet>
#include <QTextCodec>

namespace {

bool DecodeUtf8(const QByteArray &bytes, QString *text)
{
    QTextCodec *codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    *text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QByteArray WithoutByteOrderMark(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
}

QList<QByteArray> Lines(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the line end of the last line starts no new one
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

bool IsDone(const QString &outcome)
{
    return outcome == QLatin1String(outcome::Printed) || outcome == QLatin1String(outcome::Exported);
}

// A failure list or a hand-made list: one path per line in the file system's own bytes.
bool ReadPlainList(const QByteArray &bytes, QStringList *entries, QString *error)
{
    const QString unconfirmed = FailureListUnconfirmedMarker();
    int number = 0;
    for (const QByteArray &line : Lines(WithoutByteOrderMark(bytes))) {
        ++number;
        if (line.isEmpty())
            continue;
        if (line.contains('\0')) {
            *error = QStringLiteral("列表第 %1 行含有 NUL 字符，不是文件路径。").arg(number);
            return false;
        }
        // Documents not seen printed are taken again too.
        entries->append(FailureListPath(DecodeFileName(line)));
    }
    return true;
}

// An absolute path that names the folder through another path (a link to it, or the folder reached
// through a link): the part that leads to the folder is resolved, the rest is kept as written. Empty when
// it does not lead into the folder.
QString ThroughLink(const QString &path, const QString &root)
{
    static const QString none;
    const QString canonicalRoot = CanonicalFolderPath(root);
    if (canonicalRoot.isEmpty())
        return none;
    for (int cut = path.lastIndexOf(QLatin1Char('/')); cut > 0;
         cut = path.lastIndexOf(QLatin1Char('/'), cut - 1)) {
        const QString canonical = CanonicalFolderPath(path.left(cut));
        if (canonical.isEmpty())
            continue; // not there: look further up
        if (canonical == canonicalRoot)
            return root + path.mid(cut + 1);
        if (canonical.startsWith(canonicalRoot + QLatin1Char('/')))
            return root + canonical.mid(canonicalRoot.size() + 1) + path.mid(cut);
        return none;
    }
    return none;
}

} // namespace

bool ParsePasswords(const QByteArray &bytes, QStringList *passwords, QString *error)
{
    passwords->clear();
    const QByteArray content = WithoutByteOrderMark(bytes);
    QString text;
    if (!DecodeUtf8(content, &text)) {
        *error = QStringLiteral("密码文件不是 UTF-8 编码。");
        return false;
    }
    for (const QByteArray &line : Lines(content))
        passwords->append(QString::fromUtf8(line));
    if (passwords->isEmpty()) {
        *error = QStringLiteral("密码文件是空的（空行表示“无密码”）。");
        return false;
    }
    return true;
}

bool ParseDocumentList(const QString &listName, const QByteArray &bytes, const QString &folder,
                       QStringList *paths, QString *error)
{
    paths->clear();
    QStringList entries;
    const QString lower = listName.toLower();
    if (lower.endsWith(QLatin1String(".csv")) || lower.endsWith(QLatin1String(".json"))) {
        QVector<ReportRow> rows;
        if (!ReadReportRows(listName, bytes, &rows, error))
            return false;
        for (const ReportRow &row : rows) {
            if (!IsDone(row.outcome) && !row.path.isEmpty())
                entries.append(row.path);
        }
    } else if (!ReadPlainList(bytes, &entries, error)) {
        return false;
    }
    const QString root = QDir::cleanPath(QDir::fromNativeSeparators(folder)) + QLatin1Char('/');
    QSet<QString> taken;
    for (const QString &entry : entries) {
        const QString given = QDir::fromNativeSeparators(entry);
        // Taken apart as text, never through the file system: ".." cannot lead out through a link name.
        QString path = QDir::cleanPath(QDir::isAbsolutePath(given) ? given : root + given);
        if (!path.startsWith(root) && QDir::isAbsolutePath(given))
            path = ThroughLink(path, root);
        if (!path.startsWith(root) || path.size() == root.size()) {
            *error = QStringLiteral("列表中的路径不在文件夹内：%1").arg(QDir::toNativeSeparators(entry));
            return false;
        }
        // A document named twice is taken once, as the scan takes it.
        if (taken.contains(path))
            continue;
        taken.insert(path);
        paths->append(QDir::toNativeSeparators(path));
    }
    return true;
}
