#include "platform/localcodec.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

// Registered to run with LC_ALL=C, the locale of a service or a bare session.
TEST(LocalCodec, ChineseNamesSurviveTheCLocale_Posix)
{
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI code page is the system's choice";
#else
    const QString name = QString::fromUtf8("\xe6\x96\x87\xe6\xa1\xa3.docx");
    // Some Qt builds fall back to Latin-1 in the C locale; start from there.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    ASSERT_NE(name.toLocal8Bit(), name.toUtf8());
    InitLocal8BitCodec();
    EXPECT_EQ(name.toLocal8Bit(), name.toUtf8());
    EXPECT_EQ(QString::fromLocal8Bit(name.toUtf8()), name);
#endif
}

} // namespace
