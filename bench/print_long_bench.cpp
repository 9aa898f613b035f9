// A long print run: thousands of one-page .docx files printed by the print run, as the program prints,
// into a private print server. Reports the time per document over the first and the last 500 documents,
// the longest gap between two documents, and the office's peak resident memory (every office of the
// run, a spare one starting in the background included) with how often a fresh office took over.
//
//   bench_long_run [files] [memory growth limit in MB]   (defaults: 5000, the build's limit)
//
// Expected: the last 500 take no longer per document than the first 500, and the office's memory stays
// bounded by its size after the first document plus the limit.

#include "bench/bench_failure.h"
#include "bench/bench_printserver.h"
#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// soffice.bin processes whose parent is this program, with their resident memory in bytes.
QList<QPair<int, qint64>> Offices()
{
    QList<QPair<int, qint64>> offices;
    const QString self = QString::number(getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(stat.readAll());
        const int open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < 0 || text.mid(open + 1, close - open - 1) != QLatin1String("soffice.bin"))
            continue;
        const QStringList rest = text.mid(close + 2).split(' ');
        if (rest.size() < 2 || rest[1] != self || rest[0] == "Z")
            continue;
        QFile statm("/proc/" + entry + "/statm");
        if (!statm.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> pages = statm.readAll().split(' ');
        if (pages.size() > 1)
            offices.append({entry.toInt(), pages[1].toLongLong() * sysconf(_SC_PAGESIZE)});
    }
    return offices;
}

double PerDocument(const std::vector<qint64> &starts, size_t from, size_t to)
{
    return double(starts[to] - starts[from]) / double(to - from);
}

int Run(int argc, char **argv)
{
    const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 5000;
    if (argc > 2)
        qputenv("QUILLMARK_OFFICE_MEMORY_GROWTH_MB", argv[2]);

    QTemporaryDir tmp;
    const BenchPrintServer server(tmp.path());
    if (!server.started())
        Fail("cannot start the private print server");

    // Minimal one-page Word documents, each with its own text, in folders of 500.
    const QString folder = tmp.filePath("docs") + "/";
    const QString maker = QStringLiteral(R"(
import os, sys, zipfile
root, count = sys.argv[1], int(sys.argv[2])
types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/>'
         '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
for i in range(count):
    sub = os.path.join(root, 'part-%02d' % (i // 500))
    os.makedirs(sub, exist_ok=True)
    with zipfile.ZipFile(os.path.join(sub, 'doc-%05d.docx' % i), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', types)
        z.writestr('_rels/.rels', rels)
        z.writestr('word/document.xml', '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body><w:p><w:r><w:t>文档 %d: a small one-page document.</w:t></w:r></w:p></w:body></w:document>' % i)
)");
    if (QProcess::execute("python3", {"-c", maker, folder, QString::number(count)}) != 0)
        Fail("cannot make the documents");

    InstallNativeWordProcessor();
    PrintJobSettings.sourcePath = folder;
    PrintJobSettings.password.clear();
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = folder + QStringLiteral("无法设置或修改密码的文件目录.txt");

    std::atomic<bool> done{false};
    std::atomic<qint64> peak{0}, peakOne{0};
    // When each office was first and last seen: one that fills a fresh profile leaves once after a moment
    // and is started again, so only those seen for a while count as offices that worked.
    QHash<int, QPair<qint64, qint64>> seen;
    QMutex seenMutex;
    QElapsedTimer clock;
    clock.start();
    // No Fail() until it is joined: a failure thrown past a running thread would end the program.
    std::thread sampler([&] {
        while (!done) {
            qint64 total = 0;
            for (const auto &office : Offices()) {
                total += office.second;
                peakOne = std::max<qint64>(peakOne, office.second);
                QMutexLocker lock(&seenMutex);
                auto it = seen.find(office.first);
                if (it == seen.end())
                    seen.insert(office.first, {clock.elapsed(), clock.elapsed()});
                else
                    it->second = clock.elapsed();
            }
            peak = std::max<qint64>(peak, total);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    QThread thread;
    ThreadObject worker;
    worker.moveToThread(&thread);
    QEventLoop loop;
    QElapsedTimer timer;
    std::vector<qint64> starts;
    int printed = -1, failed = -1, unconfirmed = 0;
    QObject::connect(
        &worker, &ThreadObject::DocumentStarted, &worker,
        [&](int number, int, const QString &) {
            starts.push_back(timer.elapsed());
            if (number % 500 == 0) {
                std::printf("%d documents in %.1f s\n", number, timer.elapsed() / 1000.0);
                std::fflush(stdout);
            }
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &ThreadObject::DocumentUnconfirmed, &worker, [&](int, const QString &) { ++unconfirmed; },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &ThreadObject::RunFinished, &worker,
        [&](int p, int f, const QString &) {
            printed = p;
            failed = f;
            starts.push_back(timer.elapsed()); // the end of the last document
        },
        Qt::DirectConnection);
    QObject::connect(&worker, &ThreadObject::Set_pBtn_Enable, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    timer.start();
    thread.start();
    QMetaObject::invokeMethod(&worker, "ReplaceExcelText", Qt::QueuedConnection);
    loop.exec();
    const qint64 total = timer.elapsed();
    thread.quit();
    thread.wait();
    done = true;
    sampler.join();

    if (printed != count || failed != 0 || unconfirmed != 0 || int(starts.size()) != count + 1)
        Fail(QStringLiteral("printed %1, failed %2, unconfirmed %3 of %4")
                 .arg(printed)
                 .arg(failed)
                 .arg(unconfirmed)
                 .arg(count));
    qint64 longest = 0;
    for (size_t i = 1; i < starts.size(); ++i)
        longest = std::max(longest, starts[i] - starts[i - 1]);
    const size_t n = starts.size() - 1;
    std::printf("== %d documents printed in %.1f s, every one counted from its own completed job\n", count,
                total / 1000.0);
    std::printf("first 500:  %.1f ms per document\n", PerDocument(starts, 0, 500));
    std::printf("last 500:   %.1f ms per document\n", PerDocument(starts, n - 500, n));
    std::printf("last / first: %.2fx\n", PerDocument(starts, n - 500, n) / PerDocument(starts, 0, 500));
    std::printf("longest gap between two documents: %lld ms\n", static_cast<long long>(longest));
    std::printf("office peak resident memory: %.0f MB (one office), %.0f MB (all offices at once)\n",
                peakOne / 1048576.0, peak / 1048576.0);
    int worked = 0;
    for (const auto &span : seen)
        worked += span.second - span.first >= 2000;
    std::printf("offices that worked: %d (a fresh one took over %d times)\n", worked, worked - 1);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return RunBench("bench_long_run", [&] { return Run(argc, argv); });
}
