#include "cli/runaccount.h"

#include "cli/printledger.h"
#include "cli/printreport.h"
#include "platform/filename.h"
#include "platform/fileops.h"
#include "print/failurelist.h"
#include "print/threadobject.h"

#include <QDir>
#include <QTextStream>
#include <algorithm>
#include <string>

namespace {

constexpr size_t kLargestFailureList = 64u << 20;

bool Is(const QString &what, const char *name)
{
    return what == QLatin1String(name);
}

bool IsFailure(const QString &what)
{
    return Is(what, outcome::WrongPassword) || Is(what, outcome::Damaged) || Is(what, outcome::TimedOut) ||
           Is(what, outcome::PrinterError) || Is(what, outcome::ExportFailed);
}

// What a line of its own says of a document.
QString OutcomeNote(const DocumentOutcome &result, bool passwordLines, bool exporting)
{
    const QString &what = result.outcome;
    if (Is(what, outcome::Opens)) {
        if (!result.encrypted)
            return QStringLiteral("可以打开");
        if (passwordLines && result.passwordLine > 0)
            return QStringLiteral("可以打开（已加密，密码文件第 %1 行）").arg(result.passwordLine);
        return QStringLiteral("可以打开（已加密）");
    }
    if (Is(what, outcome::WrongPassword))
        return QStringLiteral("需要密码，所给的密码都打不开");
    if (Is(what, outcome::Damaged))
        return QStringLiteral("已损坏或不是 Word 文档");
    if (Is(what, outcome::TimedOut))
        return QStringLiteral("超时，文字处理软件已被结束");
    if (Is(what, outcome::NotTried))
        return QStringLiteral("文件不存在、不是 Word 文档、是链接或在隐藏文件夹中，未尝试");
    if (Is(what, outcome::SkippedExisting))
        return QStringLiteral("PDF 已存在，未覆盖");
    if (Is(what, outcome::NoPages))
        return QStringLiteral("所选页码范围内没有页，未%1")
            .arg(exporting ? QStringLiteral("导出") : QStringLiteral("打印"));
    return what;
}

// "sub/a.docx" -> "sub/a (2).docx"
QString Numbered(const QString &relative, int number)
{
    const int slash = relative.lastIndexOf(QLatin1Char('/'));
    int dot = relative.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        dot = relative.size();
    return relative.left(dot) + QStringLiteral(" (%1)").arg(number) + relative.mid(dot);
}

QStringList ReadListLines(const QString &path)
{
    std::string bytes;
    if (!ReadRegularFile(EncodeFileName(path).constData(), kLargestFailureList, bytes))
        return QStringList();
    QStringList lines;
    for (QByteArray line : QByteArray::fromStdString(bytes).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            lines.append(DecodeFileName(line));
    }
    return lines;
}

} // namespace

int ExitCodeOf(const RunCounts &counts)
{
    if (counts.interrupted)
        return kPrintExitInterrupted;
    if (counts.problem)
        return counts.done == 0 && counts.unconfirmed == 0 ? kPrintExitNothingPrinted : kPrintExitSomeFailed;
    if (counts.failed > 0 || counts.unconfirmed > 0 || counts.untried > 0 || counts.otherwiseNotDone > 0 ||
        !counts.recordsWritten)
        return kPrintExitSomeFailed;
    return kPrintExitAllPrinted;
}

RunAccount::RunAccount(const RunSetup &setup, QTextStream &out, QTextStream &err)
    : setup_(setup), out_(out), err_(err), root_(QDir::toNativeSeparators(setup.settings.sourcePath)),
      checking_(setup.settings.mode == PrintJobSettingsRecord::Mode::Check),
      exporting_(setup.settings.mode == PrintJobSettingsRecord::Mode::ExportPdf)
{
    if (!root_.endsWith(QDir::separator()))
        root_ += QDir::separator();
}

QString RunAccount::Relative(const QString &path, const QString &root)
{
    QString base = root;
    if (!base.endsWith(QDir::separator()))
        base += QDir::separator();
    return QDir::fromNativeSeparators(path.startsWith(base) ? path.mid(base.size()) : path);
}

QString RunAccount::shown(const QString &path) const
{
    return QDir::toNativeSeparators(relative(path));
}

void RunAccount::started(int number, int total, const QString &path)
{
    total_ = total;
    ++started_;
    // A check says what it found on one line, once it knows.
    if (!setup_.quiet && !checking_)
        out_ << QStringLiteral("[%1/%2] %3").arg(number).arg(total).arg(shown(path)) << Qt::endl;
}

void RunAccount::finished(const DocumentOutcome &result)
{
    total_ = std::max(total_, result.total);
    const QString &what = result.outcome;
    const bool notTried = Is(what, outcome::NotTried);
    // A listed document that is gone, or that the scan would not take; the others the run did not come to.
    const bool gone =
        notTried && setup_.settings.useDocumentList && !ThreadObject::TakesListedDocument(result.path, root_);
    if (Is(what, outcome::Opens) && result.encrypted)
        ++encrypted_;
    if (Is(what, outcome::SkippedExisting))
        ++skipped_;
    if (Is(what, outcome::NoPages))
        ++noPages_;
    if (gone)
        ++gone_;
    else if (notTried)
        notTried_.append(QString::number(result.number) + QLatin1Char('\t') + result.path);
    if (IsFailure(what))
        lines_.emplace_back(result.number, result.path);
    if (Is(what, outcome::Unconfirmed)) {
        lines_.emplace_back(result.number, FailureListUnconfirmedMarker() + result.path);
        unconfirmed_.append(QString::number(result.number) + QLatin1Char('\t') + shown(result.path));
    }
    if (!notTried)
        settled_.append(result.path);

    const bool tell =
        gone || Is(what, outcome::SkippedExisting) || Is(what, outcome::NoPages) || (checking_ && !notTried);
    if (!setup_.quiet && tell)
        out_ << QStringLiteral("[%1/%2] %3：%4")
                    .arg(result.number)
                    .arg(result.total)
                    .arg(shown(result.path), OutcomeNote(result, setup_.passwordLines, exporting_))
             << Qt::endl;
    if (setup_.report) {
        ReportRow row;
        row.path = relative(result.path);
        row.outcome = what;
        row.passwordLine = result.passwordLine;
        row.jobId = result.jobId;
        row.pages = result.pages;
        row.seconds = result.seconds;
        row.size = result.size;
        row.modifiedMs = result.modifiedMs;
        reportWritten_ = setup_.report->add(setup_.rowBase + result.number, row) && reportWritten_;
        ++rows_;
    }
    if (!setup_.doneFolder.isEmpty() && (Is(what, outcome::Printed) || Is(what, outcome::Exported)))
        moveToDoneFolder(result.path);
}

void RunAccount::leftOut(int done, int uncertain, const QStringList &unreadableFolders)
{
    setup_.skippedUnchanged += done;
    setup_.skippedUncertain += uncertain;
    folders_ += unreadableFolders;
}

void RunAccount::unreadable(const QStringList &folders)
{
    folders_ += folders;
}

void RunAccount::runFinished(int doneCount, int failedCount, const QString &problem)
{
    done_ = doneCount;
    failed_ = failedCount;
    problem_ = problem;
}

void RunAccount::moveToDoneFolder(const QString &path)
{
    const QString relativePath = relative(path);
    const QByteArray source = EncodeFileName(path);
    const QByteArray folder = EncodeFileName(setup_.doneFolder);
    // Never over a file there: a document of the same name done before keeps its place.
    MoveResult moved = MoveResult::TargetExists;
    for (int number = 1; moved == MoveResult::TargetExists && number < 1000; ++number) {
        const QString target = number == 1 ? relativePath : Numbered(relativePath, number);
        moved =
            MoveFileBelow(source.constData(), folder.constData(), EncodeFileName(target).constData(), false);
    }
    if (moved == MoveResult::Moved) {
        if (setup_.ledger)
            setup_.ledger->forget(relativePath);
    } else {
        err_ << QStringLiteral("未能移到完成文件夹：%1").arg(shown(path)) << Qt::endl;
    }
}

bool RunAccount::writeFailureList(bool complete)
{
    std::vector<std::pair<int, QString>> lines = lines_;
    std::sort(lines.begin(), lines.end());
    QStringList learnt = folders_;
    for (const auto &line : lines)
        learnt.append(line.second);
    listed_ = !learnt.isEmpty();
    const QString &path = setup_.failureListPath;
    const QStringList old = ReadListLines(path);
    // A run that went through the whole folder knows every document's fate; any other keeps what it did not
    // learn of.
    const QStringList list = complete ? learnt : MergeFailureList(old, learnt, settled_);
    if (list == old)
        return true;
    if (list.isEmpty())
        return QueryEntryNoFollow(EncodeFileName(path).constData()) != EntryKind::File ||
               std::remove(EncodeFileName(path).constData()) == 0;
    return WriteFailureList(path, list);
}

int RunAccount::conclude(bool interrupted)
{
    const bool stopped = !problem_.isEmpty() && !interrupted;
    stopped_ = stopped;
    // A run that a problem stopped after it began lists what it did not come to, for a retry; one that
    // could not begin lists nothing.
    if (stopped && started_ > 0) {
        for (const QString &entry : notTried_)
            lines_.emplace_back(entry.section(QLatin1Char('\t'), 0, 0).toInt(),
                                entry.section(QLatin1Char('\t'), 1));
        untried_ = notTried_.size();
    }
    if (setup_.report)
        reportWritten_ = setup_.report->flush() && reportWritten_;
    if (!setup_.failureListPath.isEmpty())
        listWritten_ = writeFailureList(setup_.wholeFolder && !interrupted && problem_.isEmpty());
    else
        listed_ = false;

    const QString verb = checking_    ? QStringLiteral("检查")
                         : exporting_ ? QStringLiteral("导出")
                                      : QStringLiteral("打印");
    std::sort(unconfirmed_.begin(), unconfirmed_.end(), [](const QString &a, const QString &b) {
        return a.section(QLatin1Char('\t'), 0, 0).toInt() < b.section(QLatin1Char('\t'), 0, 0).toInt();
    });
    if (!setup_.quiet) {
        if (total_ == 0 && problem_.isEmpty() && !interrupted && !setup_.settings.useDocumentList &&
            setup_.skippedUnchanged + setup_.skippedUncertain == 0)
            out_ << QStringLiteral("文件夹中没有 Word 文档。") << Qt::endl;
        if (checking_)
            out_ << QStringLiteral("共 %1 个文档：%2 个可以打开（%3 个已加密），%4 个无法打开。")
                        .arg(done_ + failed_)
                        .arg(done_)
                        .arg(encrypted_)
                        .arg(failed_)
                 << Qt::endl;
        else if (exporting_)
            out_ << QStringLiteral("已导出 %1 个 PDF，未能导出 %2 个。").arg(done_).arg(failed_) << Qt::endl;
        else
            out_ << QStringLiteral("已打印 %1 个文档，未能打印 %2 个。").arg(done_).arg(failed_) << Qt::endl;
        // Sent to the printer, but not seen printed: neither in the count nor among the failures.
        for (const QString &entry : unconfirmed_)
            out_ << QStringLiteral("未能确认是否已打印：%1").arg(entry.section(QLatin1Char('\t'), 1))
                 << Qt::endl;
        if (setup_.skippedUnchanged > 0)
            out_ << QStringLiteral("跳过 %1 个之前已%2、之后未改动的文档。")
                        .arg(setup_.skippedUnchanged)
                        .arg(verb)
                 << Qt::endl;
        if (setup_.skippedUncertain > 0)
            out_ << QStringLiteral("%1 个之前未能确认是否已打印、之后未改动的文档未再%2（见失败列表）。")
                        .arg(setup_.skippedUncertain)
                        .arg(verb)
                 << Qt::endl;
        if (skipped_ > 0)
            out_ << (setup_.settings.overwritePdf
                         ? QStringLiteral("%1 个 PDF 已存在且不是本程序生成的（或已被改动），未覆盖。")
                         : QStringLiteral(
                               "%1 个 PDF 已存在，未覆盖（要覆盖本程序生成的 PDF 请加 --overwrite）。"))
                        .arg(skipped_)
                 << Qt::endl;
        if (noPages_ > 0)
            out_ << QStringLiteral("%1 个文档在所选页码范围内没有页，未%2。").arg(noPages_).arg(verb)
                 << Qt::endl;
        if (gone_ > 0)
            out_ << QStringLiteral("列表中有 %1 个文档已不存在或不能选用，未尝试。").arg(gone_) << Qt::endl;
        if (untried_ > 0)
            out_ << QStringLiteral("%1 个文档因%2中途停止而未尝试。").arg(untried_).arg(verb) << Qt::endl;
        if (listed_ && listWritten_)
            out_ << QStringLiteral("未能%1的文档列在：%2")
                        .arg(verb, QDir::toNativeSeparators(setup_.failureListPath))
                 << Qt::endl;
        if (setup_.report && reportWritten_)
            out_ << QStringLiteral("报告：%1").arg(QDir::toNativeSeparators(setup_.report->path()))
                 << Qt::endl;
    }
    if (!problem_.isEmpty())
        err_ << problem_ << Qt::endl;
    else if (interrupted)
        err_ << QStringLiteral("%1已中止。").arg(verb) << Qt::endl;
    if (!listWritten_)
        err_ << QStringLiteral("无法写入失败列表：%1").arg(QDir::toNativeSeparators(setup_.failureListPath))
             << Qt::endl;
    if (setup_.report && !reportWritten_)
        err_ << QStringLiteral("无法写入报告：%1").arg(QDir::toNativeSeparators(setup_.report->path()))
             << Qt::endl;

    RunCounts counts;
    counts.done = done_;
    counts.failed = failed_;
    counts.unconfirmed = unconfirmed_.size();
    counts.untried = untried_;
    counts.otherwiseNotDone = skipped_ + gone_ + noPages_;
    counts.problem = stopped;
    counts.interrupted = interrupted;
    counts.recordsWritten = reportWritten_ && listWritten_;
    return ExitCodeOf(counts);
}
