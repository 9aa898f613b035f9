// The Windows client's automation calls, recorded by a stand-in of ActiveQt: every member, signature string
// and argument (with its type) in order, for whole print runs.

#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "print/wordprocessor.h"

#include <QAxObject>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString OpenSignature =
    QStringLiteral("Open(const QString&,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant)");

QStringList Start()
{
    return {"CoInitializeEx null COINIT_MULTITHREADED", "application setControl Word.Application []",
            "application dynamicCall SetVisible (bool Visible) [QString:false]",
            "application setProperty DisplayAlerts [bool:false]", "application querySubObject Documents []"};
}
QString Open(const QString &path, const QString &password)
{
    return QStringLiteral("documents querySubObject %1 [QString:%2, bool:false, bool:false, bool:false, "
                          "QString:%3, QString:%3, bool:true]")
        .arg(OpenSignature, path, password);
}
QString PrintOut(const QString &path)
{
    // In the foreground: Background false.
    return QStringLiteral("document:%1 dynamicCall PrintOut(QVariant) [bool:false]").arg(path);
}
QString Close(const QString &path)
{
    return QStringLiteral("document:%1 dynamicCall Close (Boolean) [bool:false]").arg(path);
}
QString Destroyed(const QString &object)
{
    return object + QStringLiteral(" destroyed");
}

} // namespace

class PrintAxClientTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void runs_data();
    void runs();
    void noServer();

private:
    QStringList runOnce(QStringList *labels = nullptr);
    QString file(const QString &name);

    std::unique_ptr<QTemporaryDir> tmp_;
    QString root_;
};

void PrintAxClientTest::initTestCase()
{
    InstallNativeWordProcessor();
    ThreadObject::SetViewerLauncher([](const QString &) {});
}

void PrintAxClientTest::init()
{
    axstandin::Reset();
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    root_ = tmp_->path() + QLatin1Char('/');
}

void PrintAxClientTest::cleanupTestCase()
{
    ThreadObject::SetViewerLauncher(nullptr);
    SetWordProcessorFactory(nullptr);
}

QString PrintAxClientTest::file(const QString &name)
{
    QFile f(root_ + name);
    f.open(QIODevice::WriteOnly);
    return QDir::toNativeSeparators(root_ + name);
}

QStringList PrintAxClientTest::runOnce(QStringList *labels)
{
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password = QStringLiteral("密码");
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = root_ + QStringLiteral("list.txt");
    ThreadObject worker;
    if (labels)
        connect(&worker, &ThreadObject::ShowDisposingFile,
                [labels](const QString &text) { *labels << text; });
    worker.ReplaceExcelText();
    return axstandin::Calls();
}

void PrintAxClientTest::runs_data()
{
    QTest::addColumn<QStringList>("unopenable");  // documents the server does not open
    QTest::addColumn<QStringList>("unprintable"); // documents whose PrintOut raises an exception
    QTest::addColumn<QString>("abortDuring");     // member during which the program ends; empty: none
    QTest::addColumn<QStringList>("middle");      // the calls between the start and "Quit(void)"
    QTest::addColumn<QStringList>("destroyed");   // objects released with the application, in order
    QTest::addColumn<QString>("finalLabel");

    // Placeholders: A and B stand for the two documents' paths, P for the password.
    const QString two = QStringLiteral("成功打印2个word文件!"), one = QStringLiteral("成功打印1个word文件!");
    const QString aborted = QStringLiteral(" 打印已中止。");
    QTest::newRow("normal run") << QStringList{} << QStringList{} << QString()
                                << QStringList{"open A", "print A", "close A", "open B", "print B", "close B"}
                                << QStringList{"documents", "A", "B"} << two;
    QTest::newRow("failed open") << QStringList{"a.doc"} << QStringList{} << QString()
                                 << QStringList{"open A", "open B", "print B", "close B"}
                                 << QStringList{"documents", "B"} << one;
    // An exception in PrintOut (no printer): not printed, still closed.
    QTest::newRow("print raises") << QStringList{} << QStringList{"a.doc"} << QString()
                                  << QStringList{"open A", "print A", "close A",
                                                 "open B", "print B", "close B"}
                                  << QStringList{"documents", "A", "B"} << one;
    QTest::newRow("abort while printing")
        << QStringList{} << QStringList{} << QStringLiteral("PrintOut(QVariant)")
        << QStringList{"open A", "print A", "close A"} << QStringList{"documents", "A"}
        << QStringLiteral("成功打印0个word文件!") + aborted;
    QTest::newRow("abort while opening")
        << QStringList{} << QStringList{} << OpenSignature << QStringList{"open A", "close A"}
        << QStringList{"documents", "A"} << QStringLiteral("成功打印0个word文件!") + aborted;
}

void PrintAxClientTest::runs()
{
    QFETCH(QStringList, unopenable);
    QFETCH(QStringList, unprintable);
    QFETCH(QString, abortDuring);
    QFETCH(QStringList, middle);
    QFETCH(QStringList, destroyed);
    QFETCH(QString, finalLabel);
    const QString a = file("a.doc"), b = file("b.docx");
    for (const QString &name : unopenable)
        axstandin::UnopenablePaths.insert(QDir::toNativeSeparators(root_ + name));
    for (const QString &name : unprintable)
        axstandin::UnprintablePaths.insert(QDir::toNativeSeparators(root_ + name));
    if (!abortDuring.isEmpty()) {
        axstandin::DuringCall = [abortDuring](const QString &, const QString &member) {
            if (member == abortDuring)
                ThreadObject::AbortRuns(); // as the ending program does, from its own thread
        };
    }

    QStringList expected = Start();
    for (const QString &step : middle) {
        const QString path = step.endsWith('A') ? a : b;
        if (step.startsWith("open"))
            expected << Open(path, QStringLiteral("密码"));
        else if (step.startsWith("print"))
            expected << PrintOut(path);
        else
            expected << Close(path);
    }
    expected << "application dynamicCall Quit(void) []" << Destroyed("application");
    for (const QString &object : destroyed)
        expected << Destroyed(object == "A" ? "document:" + a : object == "B" ? "document:" + b : object);

    QStringList labels;
    QCOMPARE(runOnce(&labels), expected);
    QCOMPARE(labels.last(), finalLabel);
}

void PrintAxClientTest::noServer()
{
    // No "Word.Application": nothing is called on the missing object, and the label says why.
    file("a.doc");
    axstandin::ControlAvailable = false;
    QStringList labels;
    QCOMPARE(runOnce(&labels),
             (QStringList{"CoInitializeEx null COINIT_MULTITHREADED",
                          "application setControl Word.Application []", Destroyed("application")}));
    QCOMPARE(labels.size(), 1);
    QVERIFY(labels.first().startsWith(QStringLiteral("成功打印0个word文件! ")));
}

QTEST_GUILESS_MAIN(PrintAxClientTest)
#include "print_axclient_test.moc"
