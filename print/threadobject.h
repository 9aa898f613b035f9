#pragma once
// The print run: lists the folder tree and prints every Word document through the word processor.

#include "print/documentoutcome.h"

#include <QFileInfoList>
#include <QObject>
#include <QString>
#include <functional>

class ThreadObject : public QObject
{
    Q_OBJECT
public:
    explicit ThreadObject(QObject *parent = nullptr);

    QFileInfoList ListFilesRecursively(QString path);
    // The same, and the folders of the tree that could not be read, in the order they were met.
    QFileInfoList ListFilesRecursively(QString path, QStringList *unreadableFolders);
    // The same, stopping before the next folder once stop() says so (a run aborted during a long scan).
    QFileInfoList ListFilesRecursively(QString path, QStringList *unreadableFolders,
                                       const std::function<bool()> &stop);
    static bool IsPrintableDocument(const QString &path);
    // Whether a document named by a list (not found by the scan) is taken, by the rules of the scan: an
    // existing file, not a link, that passes the document test, in no hidden folder below root (native,
    // ending in a separator).
    static bool TakesListedDocument(const QString &path, const QString &root);

    // Shows the failure list to the user, on the GUI thread: the desktop's services and Notepad's start
    // belong there. Tests replace the launcher.
    using ViewerLauncher = std::function<void(const QString &failureListPath)>;
    static void SetViewerLauncher(ViewerLauncher launcher);
    static void LaunchViewer(const QString &failureListPath);

    // Called before each folder of a scan is read, on the thread that reads it. Tests slow a scan down
    // with it; nothing else sets it.
    using FolderScanHook = std::function<void(const QString &folder)>;
    static void SetFolderScanHook(FolderScanHook hook);

    // Makes every run under way end soon (pause cut short, office ended, no further document).
    // Called when the program ends.
    static void AbortRuns();

signals:
    void ShowDisposingFile(QString filePath);
    void Set_pBtn_Enable();
    // The same run for callers without a window: number counts the documents tried from 1, total is the
    // number of documents in the tree; problem is empty, or why the run printed less than it could.
    void DocumentStarted(int number, int total, QString path);
    void RunFinished(int printedCount, int failedCount, QString problem);
    // What became of each document, once known (with jobs followed, after later documents started).
    // Every document of the run is told once, also those the run did not come to (not tried).
    void DocumentFinished(DocumentOutcome outcome);
    // Before RunFinished, once per document that went to the printer but whose printing could not be
    // confirmed (counted neither as printed nor as failed), in the order tried; number as in
    // DocumentStarted.
    void DocumentUnconfirmed(int number, QString path);
    // After the run: the failure list was written and is to be shown.
    void ShowFailureList(QString failureListPath);
    // Before RunFinished, when folders of the tree could not be read (in the order met). A run without a
    // failure list path leaves the list to its caller, who needs them.
    void UnreadableFolders(QStringList folders);

public slots:
    void ReplaceExcelText();
};
