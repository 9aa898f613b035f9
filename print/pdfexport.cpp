#include "print/pdfexport.h"

#include "platform/filename.h"
#include "platform/fileops.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <string>

namespace {

// PDFs larger than this are not read back to be recognised; such a PDF is simply kept.
constexpr size_t kLargestRecognisedPdf = 256u << 20;
constexpr size_t kLargestRecord = 64u << 20;

QByteArray Sha256Of(const std::string &bytes)
{
    return QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(), int(bytes.size())),
                                    QCryptographicHash::Sha256);
}

// The file's SHA-256, not read through a link; empty when it is no regular file or too large.
QByteArray Sha256OfFile(const QString &path)
{
    std::string bytes;
    if (!ReadRegularFile(EncodeFileName(path).constData(), kLargestRecognisedPdf, bytes))
        return QByteArray();
    return Sha256Of(bytes);
}

} // namespace

MadePdfs::MadePdfs(const QString &pdfFolder)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return;
    // One record per PDF folder, named after the folder's own path.
    QString folder = QFileInfo(pdfFolder).canonicalFilePath();
    if (folder.isEmpty())
        folder = pdfFolder;
    const QByteArray key = QCryptographicHash::hash(EncodeFileName(folder), QCryptographicHash::Sha1).toHex();
    const QString dir = data + QStringLiteral("/quillmark/made-pdfs");
    path_ = dir + QLatin1Char('/') + QString::fromLatin1(key) + QStringLiteral(".txt");
    QDir().mkpath(dir);
    std::string bytes;
    if (!ReadRegularFile(EncodeFileName(path_).constData(), kLargestRecord, bytes))
        return;
    // "<sha256 hex> <relative path's bytes in hex>" per line; a later line for a place wins.
    for (const QByteArray &line : QByteArray::fromStdString(bytes).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2 && fields.at(0).size() == 64)
            digests_.insert(DecodeFileName(QByteArray::fromHex(fields.at(1))),
                            QByteArray::fromHex(fields.at(0)));
    }
}

bool MadePdfs::madeHere(const QString &relative, const QByteArray &sha256) const
{
    return !sha256.isEmpty() && digests_.value(relative) == sha256;
}

bool MadePdfs::record(const QString &relative, const QByteArray &sha256)
{
    digests_.insert(relative, sha256);
    if (path_.isEmpty())
        return false;
    std::FILE *file = OpenFileForAppending(EncodeFileName(path_).constData());
    if (!file)
        return false;
    const QByteArray line = sha256.toHex() + ' ' + EncodeFileName(relative).toHex() + '\n';
    const bool written = std::fwrite(line.constData(), 1, size_t(line.size()), file) == size_t(line.size());
    return std::fclose(file) == 0 && written;
}

PdfExporter::PdfExporter(const PrintJobSettingsRecord &settings)
    : root_(QDir::toNativeSeparators(settings.sourcePath)), pdfFolder_(settings.pdfFolder),
      overwrite_(settings.overwritePdf), made_(settings.pdfFolder)
{
    // Private to this run: the office writes there, with its lock and temporary files, and no one else can.
    std::string created;
    if (MakeFreshFolder(EncodeFileName(QDir::tempPath() + QStringLiteral("/quillmark-pdf-")).toStdString(),
                        created))
        privateFolder_ = DecodeFileName(QByteArray::fromStdString(created));
}

PdfExporter::~PdfExporter()
{
    if (!privateFolder_.isEmpty())
        RemoveFolderTree(EncodeFileName(privateFolder_).constData());
}

QString PdfExporter::relativeTarget(const QString &documentPath) const
{
    QString relative = documentPath;
    if (relative.startsWith(root_))
        relative = relative.mid(root_.size());
    else
        relative = relative.mid(relative.lastIndexOf(QDir::separator()) + 1);
    relative.truncate(relative.lastIndexOf(QLatin1Char('.')));
    return QDir::fromNativeSeparators(relative) + QStringLiteral(".pdf");
}

bool PdfExporter::replaceable(const QString &relative) const
{
    return overwrite_ && made_.madeHere(relative, Sha256OfFile(pdfFolder_ + relative));
}

bool PdfExporter::keeps(const QString &documentPath) const
{
    const QString relative = relativeTarget(documentPath);
    if (madeByThisRun_.contains(relative))
        return true;
    // A link at the place counts as something there, also one that leads nowhere.
    if (QueryEntryNoFollow(EncodeFileName(pdfFolder_ + relative).constData()) == EntryKind::Missing)
        return false;
    return !replaceable(relative);
}

PdfExporter::Result PdfExporter::exportDocument(WordProcessor &office, WordProcessor::Document document,
                                                const QString &documentPath)
{
    const QString relative = relativeTarget(documentPath);
    const QString temporary = privateFolder_ + QStringLiteral("/%1.pdf").arg(++counter_);
    const QByteArray temporaryBytes = EncodeFileName(temporary);
    if (!office.exportPdf(document, temporary)) {
        std::remove(temporaryBytes.constData());
        return Result::Failed;
    }
    std::string bytes;
    const QByteArray digest = ReadRegularFile(temporaryBytes.constData(), kLargestRecognisedPdf, bytes)
                                  ? Sha256Of(bytes)
                                  : QByteArray();
    // Looked at again: something may have appeared at the place while the office worked.
    const bool replace =
        QueryEntryNoFollow(EncodeFileName(pdfFolder_ + relative).constData()) != EntryKind::Missing &&
        replaceable(relative);
    const MoveResult moved = MoveFileBelow(temporaryBytes.constData(), EncodeFileName(pdfFolder_).constData(),
                                           EncodeFileName(relative).constData(), replace);
    if (moved != MoveResult::Moved) {
        std::remove(temporaryBytes.constData());
        return moved == MoveResult::TargetExists ? Result::Kept : Result::Failed;
    }
    madeByThisRun_.insert(relative);
    if (!digest.isEmpty())
        made_.record(relative, digest);
    return Result::Exported;
}
