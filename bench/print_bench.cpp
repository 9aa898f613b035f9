// Times printing a folder of small .docx files four ways, into a private print server:
//   run    the print run (ThreadObject with the LibreOffice client), as the program prints;
//   cli    `soffice --headless -p FILE` once per file (quiet machine only: it is slow);
//   one    `soffice --headless -p FILE...` with every file in one call;
//   bare   a bare UNO loop: start an office, load/print/close each file, terminate.
// Each time runs until every job has left the queue, and each way must print every file. Each round is
// timed on the machine as it is (quiet) and with one core kept busy by a spinning process that the
// benchmark starts itself (loaded). Every way starts its office on a warm profile that records that this
// version of the office started on it before, as the client's own profiles do (without that the office
// runs a second of graphics self-tests at every start).
//
//   bench_print [files] [runs] [quiet|loaded|both|batch|pace]   (defaults: 50 files, 1 run, both)
//   bench_print [files] [runs] batch loaded                     (batch with one core kept busy)
//
// Targets (medians): the run at least 10x faster than cli; at most 1.05x the bare loop and at most
// 1.0x the one-call soffice -p, quiet and loaded.
//
// pace prints on a slow printer (0.5 s a job) at the default limits: every document must print, none
// unconfirmed, and the printer be busy at least 95 % of the time from the first job's start to the
// last one's end.
//
// batch times the command line's batch modes on the same folder: checking against printing (target: at
// most half the time), PDF export against `soffice --headless --convert-to pdf` with every file in one
// call (target: no slower), and the cost of a wrong password offered before the right one, per document,
// on encrypted copies of the documents.

#include "bench/bench_failure.h"
#include "bench/bench_printserver.h"
#include "bench/print_bench_uno.h"
#include "print/libreoffice/libreofficewordprocessor.h"
#include "print/libreoffice/office.h"
#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "tests/system/print_docmaker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Server = BenchPrintServer;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The run as the window starts it, or with the command line's settings.
double TimeRun(const QString &folder, const Server &server,
               const PrintJobSettingsRecord &base = PrintJobSettingsRecord())
{
    PrintJobSettings = base;
    PrintJobSettings.sourcePath = folder;
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = folder + QStringLiteral("无法设置或修改密码的文件目录.txt");
    QThread thread;
    ThreadObject worker;
    worker.moveToThread(&thread);
    QEventLoop loop;
    int done = 0;
    QObject::connect(&worker, &ThreadObject::RunFinished, &loop,
                     [&](int printed, int, const QString &) { done = printed; });
    QObject::connect(&worker, &ThreadObject::Set_pBtn_Enable, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    thread.start();
    QMetaObject::invokeMethod(&worker, "ReplaceExcelText", Qt::QueuedConnection);
    loop.exec();
    thread.quit();
    thread.wait();
    server.waitIdle();
    const double elapsed = timer.elapsed();
    const int documents = QDir(folder).entryList({"*.doc", "*.docx"}, QDir::Files).size();
    if (done != documents)
        Fail(QStringLiteral("the run did %1 of %2 documents").arg(done).arg(documents));
    return elapsed;
}

double TimeConvert(const QStringList &files, const QString &profile, const QString &outDir)
{
    QElapsedTimer timer;
    timer.start();
    QProcess soffice;
    soffice.start(LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice",
                  QStringList{"-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(),
                              "--headless", "--convert-to", "pdf", "--outdir", outDir} +
                      files);
    if (!soffice.waitForFinished(600000) || soffice.exitCode() != 0)
        Fail("soffice --convert-to pdf did not finish");
    const double elapsed = timer.elapsed();
    if (QDir(outDir).entryList({"*.pdf"}, QDir::Files).size() != files.size())
        Fail("soffice --convert-to pdf did not convert every file");
    return elapsed;
}

// The office's start as the client makes it (create, then quit), with its kept profile in cache: the
// first time on a fresh profile, then on the profile kept between runs.
double TimeOfficeStart(const QString &cache)
{
    const QByteArray before = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    QElapsedTimer timer;
    timer.start();
    {
        LibreOfficeWordProcessor office;
        if (!office.create())
            Fail("the office did not start");
        office.quit();
    }
    qputenv("XDG_CACHE_HOME", before);
    return timer.elapsed();
}

void Batch(const QString &folder, const QStringList &files, const QString &profile, const Server &server,
           const QString &tmp, int runs)
{
    const int count = files.size();
    // Encrypted copies of the documents, stored by the office itself.
    const QString locked = tmp + "/locked/";
    QDir().mkpath(locked);
    QVector<docmaker::PasswordJob> jobs;
    for (const QString &file : files)
        jobs.append({file, locked + QFileInfo(file).completeBaseName() + ".doc", QStringLiteral("right-pw")});
    QString error;
    if (!docmaker::SavePasswordProtected(jobs, &error))
        Fail("cannot make the encrypted documents: " + error);

    using Mode = PrintJobSettingsRecord::Mode;
    PrintJobSettingsRecord check;
    check.mode = Mode::Check;
    PrintJobSettingsRecord pdf;
    pdf.mode = Mode::ExportPdf;
    pdf.pdfFolder = tmp + "/pdf/";
    pdf.overwritePdf = true;
    // As the command line does: the run exports into a folder that exists.
    QDir().mkpath(pdf.pdfFolder);
    PrintJobSettingsRecord right = check;
    right.passwords = QStringList{"right-pw"};
    PrintJobSettingsRecord wrongFirst = check;
    wrongFirst.passwords = QStringList{"wrong-pw", "right-pw"};

    // One document alone tells the fixed cost (starting the office) from the cost per document.
    const QString single = tmp + "/single/";
    QDir().mkpath(single);
    if (!QFile::copy(files.first(), single + QFileInfo(files.first()).fileName()))
        Fail("cannot copy a document");
    PrintJobSettingsRecord pdfSingle = pdf;
    pdfSingle.pdfFolder = tmp + "/pdf-single/";
    QDir().mkpath(pdfSingle.pdfFolder);

    std::vector<double> print, checked, exported, converted, rightOnly, wrongThenRight, exportedOne,
        convertedOne;
    for (int r = 0; r < runs; ++r) {
        const int before = server.captured();
        print.push_back(TimeRun(folder, server));
        if (server.captured() - before != count)
            Fail("the print run printed " + QString::number(server.captured() - before));
        checked.push_back(TimeRun(folder, server, check));
        if (server.captured() - before != count)
            Fail("the check printed");
        exported.push_back(TimeRun(folder, server, pdf));
        const QString converts = tmp + QStringLiteral("/convert-%1").arg(r);
        QDir().mkpath(converts);
        converted.push_back(TimeConvert(files, profile, converts));
        exportedOne.push_back(TimeRun(single, server, pdfSingle));
        const QString convertsOne = tmp + QStringLiteral("/convert-single-%1").arg(r);
        QDir().mkpath(convertsOne);
        convertedOne.push_back(TimeConvert({files.first()}, profile, convertsOne));
        rightOnly.push_back(TimeRun(locked, server, right));
        wrongThenRight.push_back(TimeRun(locked, server, wrongFirst));
        std::printf(
            "batch run %d: print %.0f ms, check %.0f ms, pdf %.0f ms, soffice --convert-to pdf %.0f ms, "
            "encrypted check right password %.0f ms, wrong then right %.0f ms\n",
            r + 1, print.back(), checked.back(), exported.back(), converted.back(), rightOnly.back(),
            wrongThenRight.back());
        std::fflush(stdout);
    }
    const double p = Median(print), c = Median(checked), e = Median(exported), v = Median(converted);
    const double one = Median(rightOnly), two = Median(wrongThenRight);
    std::printf("== batch: %d documents, medians of %d\n", count, runs);
    std::printf("print run:                    %8.0f ms\n", p);
    std::printf("check (--check):              %8.0f ms\n", c);
    std::printf("check / print run:            %8.2fx (target <= 0.5x)\n", c / p);
    std::printf("PDF export (--pdf):           %8.0f ms\n", e);
    std::printf("soffice --convert-to pdf:     %8.0f ms\n", v);
    std::printf("PDF export / convert-to:      %8.2fx (target <= 1x)\n", e / v);
    const double e1 = Median(exportedOne), v1 = Median(convertedOne);
    std::printf("one document: PDF export %.0f ms, convert-to %.0f ms (the fixed cost)\n", e1, v1);
    if (count > 1)
        std::printf("per further document: PDF export %.1f ms, convert-to %.1f ms\n", (e - e1) / (count - 1),
                    (v - v1) / (count - 1));
    std::vector<double> fresh, kept;
    for (int r = 0; r < runs; ++r) {
        const QString cache = tmp + QStringLiteral("/cache-%1").arg(r);
        fresh.push_back(TimeOfficeStart(cache)); // the first start fills the kept profile
        kept.push_back(TimeOfficeStart(cache));
    }
    std::printf("office start and end:         %8.0f ms fresh profile, %.0f ms kept profile\n", Median(fresh),
                Median(kept));
    std::printf("encrypted, right password:    %8.0f ms\n", one);
    std::printf("encrypted, wrong then right:  %8.0f ms\n", two);
    std::printf("a wrong password costs:       %8.1f ms per document (the office kept)\n",
                (two - one) / count);
    std::fflush(stdout);
}

void Pace(const QString &folder, int count, const Server &server, int runs)
{
    if (!server.pace(0.5))
        Fail("cannot slow the printer down");
    std::vector<double> shares, times;
    for (int r = 0; r < runs; ++r) {
        QFile::remove(server.out + "/pace.log");
        const int before = server.captured();
        times.push_back(TimeRun(folder, server)); // fails unless every document was counted printed
        if (server.captured() - before != count)
            Fail("the slow printer printed " + QString::number(server.captured() - before));
        QFile log(server.out + "/pace.log");
        if (!log.open(QIODevice::ReadOnly))
            Fail("no pace log");
        double first = 1e300, last = 0, busy = 0;
        for (const QByteArray &line : log.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 3)
                continue;
            const double began = fields[1].toDouble(), ended = fields[2].toDouble();
            first = std::min(first, began);
            last = std::max(last, ended);
            busy += ended - began;
        }
        shares.push_back(last > first ? busy / (last - first) : 0);
        std::printf("pace run %d: %.0f ms, printer busy %.1f %%\n", r + 1, times.back(), 100 * shares.back());
        std::fflush(stdout);
    }
    std::printf("== pace: %d documents at 0.5 s a job, every one printed, medians of %d\n", count, runs);
    std::printf("run:                     %8.0f ms\n", Median(times));
    std::printf("printer busy:            %8.1f %% (target >= 95 %%)\n", 100 * Median(shares));
}

double TimeCli(const QStringList &files, const QString &profile, const Server &server)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        QProcess soffice;
        soffice.start(
            LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice",
            {"-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(), "--headless", "-p", file});
        if (!soffice.waitForFinished(120000))
            Fail("soffice -p did not finish");
    }
    server.waitIdle();
    return timer.elapsed();
}

double TimeOneCall(const QStringList &files, const QString &profile, const Server &server)
{
    QElapsedTimer timer;
    timer.start();
    QProcess soffice;
    soffice.start(
        LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice",
        QStringList{"-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(), "--headless", "-p"} +
            files);
    if (!soffice.waitForFinished(600000))
        Fail("soffice -p did not finish");
    server.waitIdle();
    return timer.elapsed();
}

// A process that keeps one core busy until it is ended.
class Spinner
{
public:
    Spinner()
    {
        pid_ = fork();
        if (pid_ == 0) {
            for (volatile unsigned long n = 0;; n = n + 1) {
            }
        }
    }
    ~Spinner()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Spinner(const Spinner &) = delete;
    Spinner &operator=(const Spinner &) = delete;

private:
    pid_t pid_ = -1;
};

double TimeBare(const QStringList &files, const QString &profile, const Server &server)
{
    QElapsedTimer timer;
    timer.start();
    QString error;
    const int printed =
        BareUnoLoop(LibreOfficeWordProcessor::DefaultProgramDir(), profile, files, "capture", &error);
    if (printed != files.size())
        Fail("the bare loop printed " + QString::number(printed) + ": " + error);
    server.waitIdle();
    return timer.elapsed();
}

int Run(int argc, char **argv)
{
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 1;

    QTemporaryDir tmp;
    const Server server(tmp.path());
    if (!server.started())
        Fail("cannot start the private print server");

    InstallNativeWordProcessor();
    // The print runs keep their office profile in a cache of their own, made before the first timed run
    // (as a user's is after the first run): neither the user's cache nor another run's use of it counts.
    const QString cache = tmp.filePath("cache");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    // And the record of the PDFs made, which would otherwise go into the user's data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.filePath("data")));
    TimeOfficeStart(cache);
    // The others start on warm profiles too, which (as any profile once LibreOffice has shown its window
    // on it) record that this version started before: without that the office runs a second of graphics
    // self-tests at every start, which the client's own profiles spare it.
    const QString bin = LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice.bin";
    const std::string version = KnownOfficeVersion(bin.toStdString());
    const QString profile = tmp.filePath("cli-profile"), bareProfile = tmp.filePath("bare-profile");
    for (const QString &dir : {profile, bareProfile})
        if (!QDir().mkpath(dir) || !officefiles::SeedProfile(dir.toStdString(), version))
            Fail("cannot prepare the office profile " + dir);
    QString error;
    if (BareUnoLoop(LibreOfficeWordProcessor::DefaultProgramDir(), bareProfile, {}, "capture", &error) != 0 ||
        !error.isEmpty())
        Fail("the bare loop's office did not start: " + error);

    // The documents, made once; the profile used for that is the warm profile of the cli runs.
    const QString folder = tmp.filePath("docs") + "/";
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString base = folder + QStringLiteral("doc-%1").arg(i, 3, 10, QLatin1Char('0'));
        QFile txt(base + ".txt");
        if (!txt.open(QIODevice::WriteOnly))
            Fail("cannot write " + txt.fileName());
        txt.write(QStringLiteral("文档 %1: a small one-page document.\n").arg(i).toUtf8());
        files << base + ".docx";
    }
    QStringList convert{"-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(),
                        "--headless",
                        "--convert-to",
                        "docx",
                        "--outdir",
                        folder};
    for (int i = 0; i < count; ++i)
        convert << QStringLiteral("%1doc-%2.txt").arg(folder).arg(i, 3, 10, QLatin1Char('0'));
    QProcess maker;
    maker.start(LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice", convert);
    if (!maker.waitForFinished(300000) || maker.exitCode() != 0)
        Fail("cannot make the documents");
    for (int i = 0; i < count; ++i)
        QFile::remove(QStringLiteral("%1doc-%2.txt").arg(folder).arg(i, 3, 10, QLatin1Char('0')));

    const QString which = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("both");
    if (which == "batch") {
        // batch loaded: with one core kept busy throughout.
        const bool loaded = argc > 4 && QString::fromLocal8Bit(argv[4]) == QLatin1String("loaded");
        std::unique_ptr<Spinner> spinner(loaded ? new Spinner : nullptr);
        if (loaded)
            std::printf("batch with one core kept busy\n");
        Batch(folder, files, profile, server, tmp.path(), runs);
        return 0;
    }
    if (which == "pace") {
        Pace(folder, count, server, runs);
        return 0;
    }
    QList<bool> modes;
    if (which != "loaded")
        modes << false;
    if (which != "quiet")
        modes << true;
    auto check = [&](int before, const char *what) {
        if (server.captured() - before != count)
            Fail(QString(what) + " printed " + QString::number(server.captured() - before));
    };
    for (const bool loaded : modes) {
        std::vector<double> run, cli, one, bare;
        for (int r = 0; r < runs; ++r) {
            std::unique_ptr<Spinner> spinner(loaded ? new Spinner : nullptr);
            int before = server.captured();
            run.push_back(TimeRun(folder, server));
            check(before, "the print run");
            // Once per file is slow and far behind: timed in the first round only.
            if (!loaded && r == 0) {
                before = server.captured();
                cli.push_back(TimeCli(files, profile, server));
                check(before, "soffice -p per file");
            }
            before = server.captured();
            one.push_back(TimeOneCall(files, profile, server));
            check(before, "soffice -p in one call");
            before = server.captured();
            bare.push_back(TimeBare(files, bareProfile, server));
            check(before, "the bare loop");
            std::printf(
                "%s run %d: print run %.0f ms, soffice -p per file %s ms, soffice -p one call %.0f ms, "
                "bare UNO loop %.0f ms\n",
                loaded ? "loaded" : "quiet", r + 1, run.back(),
                loaded || r > 0 ? "-" : qPrintable(QString::number(cli.back(), 'f', 0)), one.back(),
                bare.back());
            std::fflush(stdout);
        }
        const double a = Median(run), c = Median(bare), o = Median(one);
        std::printf("== %s: %d documents, every job captured as a PDF, medians of %d\n",
                    loaded ? "loaded (one core kept busy)" : "quiet", count, runs);
        std::printf("print run:               %8.0f ms (%.1f ms per document)\n", a, a / count);
        if (!loaded) {
            const double b = Median(cli);
            std::printf("soffice -p per file:     %8.0f ms\n", b);
            std::printf("soffice -p / print run:  %8.1fx (target >= 10x)\n", b / a);
        }
        std::printf("soffice -p one call:     %8.0f ms\n", o);
        std::printf("bare UNO loop:           %8.0f ms\n", c);
        std::printf("print run / bare loop:   %8.2fx (target <= 1.05x)\n", a / c);
        std::printf("print run / one call:    %8.2fx (target <= 1.0x)\n", a / o);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return RunBench("bench_print", [&] { return Run(argc, argv); });
}
