#include "platform/filename.h"
#include "platform/localcodec.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>
#include <gtest/gtest.h>
#include <vector>

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

#ifndef _WIN32
// Names as the file system holds them: the codec must give every byte back, and must show valid UTF-8 as
// the characters it stands for.
struct NameRow
{
    const char *what;
    QByteArray bytes;
    std::vector<char16_t> units; // the decoded name, UTF-16 code unit by code unit
};

QString Units(const std::vector<char16_t> &units)
{
    QString text;
    for (char16_t u : units)
        text += QChar(u);
    return text;
}

TEST(FileName, DecodesLosslessly_Posix)
{
    const NameRow rows[] = {
        {"ASCII", "a.doc", {'a', '.', 'd', 'o', 'c'}},
        {"empty", "", {}},
        {"Chinese UTF-8", "\xe6\x96\x87", {0x6587}},
        {"stray 0xFF", "bad\xff.doc", {'b', 'a', 'd', 0xDCFF, '.', 'd', 'o', 'c'}},
        // 文档 in GBK: its middle pair happens to be valid UTF-8 and is read as such; still lossless.
        {"GBK bytes", "\xce\xc4\xb5\xb5", {0xDCCE, 0x0135, 0xDCB5}},
        {"GBK for a Chinese character", "\xd6\xd0", {0xDCD6, 0xDCD0}},
        {"GBK pair that is also valid UTF-8", "\xc4\xa3", {0x0123}},
        {"newline and carriage return", "a\nb\r", {'a', '\n', 'b', '\r'}},
        {"4-byte UTF-8", "\xf0\x9f\x98\x80", {0xD83D, 0xDE00}},
        {"highest code point", "\xf4\x8f\xbf\xbf", {0xDBFF, 0xDFFF}},
        {"above U+10FFFF", "\xf4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
        {"overlong slash", "\xc0\xaf", {0xDCC0, 0xDCAF}},
        {"overlong 3-byte", "\xe0\x80\xaf", {0xDCE0, 0xDC80, 0xDCAF}},
        {"overlong 4-byte", "\xf0\x80\x80\xaf", {0xDCF0, 0xDC80, 0xDC80, 0xDCAF}},
        {"encoded high surrogate", "\xed\xa0\x80", {0xDCED, 0xDCA0, 0xDC80}},
        {"encoded escape surrogate", "\xed\xb3\xbf", {0xDCED, 0xDCB3, 0xDCBF}},
        {"truncated 3-byte at the end", "x\xe6\x96", {'x', 0xDCE6, 0xDC96}},
        {"truncated 4-byte before ASCII", "\xf0\x9f\x98z", {0xDCF0, 0xDC9F, 0xDC98, 'z'}},
        {"lone continuation byte", "\x80", {0xDC80}},
        {"escape next to a pair", "\xff\xf0\x9f\x98\x80\xff", {0xDCFF, 0xD83D, 0xDE00, 0xDCFF}},
    };
    for (const NameRow &row : rows) {
        const QString decoded = DecodeFileName(row.bytes);
        EXPECT_EQ(decoded, Units(row.units)) << row.what;
        EXPECT_EQ(EncodeFileName(decoded), row.bytes) << row.what;
    }
}

TEST(FileName, EveryByteSurvivesTheRoundTrip_Posix)
{
    // All pairs of bytes, so every lead byte meets every follower.
    for (int a = 1; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            QByteArray bytes;
            bytes += char(a);
            bytes += char(b);
            bytes += "\xe6\x96\x87";
            ASSERT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << a << " " << b;
        }
    }
}

TEST(FileName, CharactersWithoutAByteFormBecomeReplacementCharacters_Posix)
{
    // Lone surrogates that were never decoded from a byte (from other text, not from the file system).
    struct Row
    {
        const char *what;
        std::vector<char16_t> units;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"lone high surrogate",
         {'a', 0xD800, 'b'},
         "a\xef\xbf\xbd"
         "b"},
        {"lone low surrogate below the escapes", {0xDC7F}, "\xef\xbf\xbd"},
        {"high surrogate at the end", {0xD83D}, "\xef\xbf\xbd"},
        {"escape after a high surrogate", {0xD83D, 0xDCFF}, "\xf0\x9f\x93\xbf"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(EncodeFileName(Units(row.units)), row.bytes) << row.what;
}
#endif

} // namespace
