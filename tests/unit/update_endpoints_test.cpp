// The build step that enciphers the configured endpoints: the program linked with a table of its own
// (here the loopback one) deciphers exactly the texts that were configured.

#include "update/endpointcipher.h"
#include "update/endpoints.h"
#include "update/threadpost.h"

#include <QRegularExpression>
#include <QtTest>

class UpdateEndpointsTest : public QObject
{
    Q_OBJECT

private slots:
    void tableDeciphersToTheConfiguredTexts_data()
    {
        const UpdateEndpointTable &t = UpdateEndpoints();
        QTest::addColumn<QString>("hex");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("plain");
        QTest::newRow("primary host") << t.primaryHost << 32 << "127.0.83.1";
        QTest::newRow("primary version path") << t.primaryVersionPath << 64 << "/quillmark/version";
        QTest::newRow("primary download base")
            << t.primaryDownloadBase << 96 << "http://127.0.83.1/quillmark/";
        QTest::newRow("secondary host") << t.secondaryHost << 64 << "127.0.83.2";
        QTest::newRow("secondary version path") << t.secondaryVersionPath << 64 << "/quillmark/version";
        QTest::newRow("secondary download base")
            << t.secondaryDownloadBase << 96 << "http://127.0.83.2/quillmark/";
    }
    void tableDeciphersToTheConfiguredTexts()
    {
        QFETCH(QString, hex);
        QFETCH(int, digits);
        QFETCH(QString, plain);
        QCOMPARE(hex.size(), digits);
        QVERIFY(QRegularExpression("^[0-9a-f]+$").match(hex).hasMatch());
        QVERIFY(!hex.contains(QString::fromLatin1(plain.toLatin1().toHex())));
        std::string text;
        QCOMPARE(DecipherEndpoint(hex.toLatin1().constData(), text), 0);
        QCOMPARE(QString::fromStdString(text), plain);
    }
    void serversCountAsConfigured() { QVERIFY(UpdateServersConfigured()); }
};

QTEST_GUILESS_MAIN(UpdateEndpointsTest)
#include "update_endpoints_test.moc"
