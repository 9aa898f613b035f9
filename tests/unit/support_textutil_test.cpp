#include "support/textutil.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// A heap buffer of exactly the given size holding text, so that the sanitizer sees any write past it.
std::unique_ptr<char[]> ExactBuffer(const std::string &text, size_t size)
{
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memset(buffer.get(), 'X', size);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    return buffer;
}

TEST(TextUtil, FindLast)
{
    struct Row
    {
        const char *text;
        const char *marker;
        int expected;
    };
    const Row rows[] = {
        {"aaaa", "aa", 2}, // occurrences do not overlap
        {"aaa", "aa", 0},
        {"x=y=z", "=", 3},
        {"abc", "abc", 0},
        {"abc", "abcd", -1},
        {"abc", "d", -1},
        {"", "a", -1},
        {"abc", "", -1},
        // 0x5C as the second byte of a double-byte character is still found: bytes, not characters.
        {"D:\\\x95\x5C"
         "a",
         "\\", 4},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FindLast(row.text, row.marker), row.expected) << row.text << " / " << row.marker;
}

TEST(TextUtil, TakeRange)
{
    struct Row
    {
        const char *text;
        int start;
        int end;
        const char *expected;
    };
    const Row rows[] = {
        {"abcdef", 1, 3, "bc"}, {"abcdef", 0, 6, "abcdef"}, {"abc", 1, 99, "bc"},
        {"abc", 2, 2, ""},      {"abc", 3, 1, ""},          {"abc", 3, 3, ""},
    };
    for (const Row &row : rows) {
        char out[16] = "garbage";
        TakeRange(out, row.text, row.start, row.end);
        EXPECT_STREQ(out, row.expected) << row.text << " " << row.start << ".." << row.end;
    }
}

struct TakeRow
{
    const char *text;
    const char *marker;
    int include;
    int last;
    int result;
    const char *expected;
};

void CheckTake(int (*take)(char *, const char *, const char *, int, int), const std::vector<TakeRow> &rows)
{
    for (const TakeRow &row : rows) {
        SCOPED_TRACE(std::string(row.text) + " marker " + row.marker + " include " +
                     std::to_string(row.include) + " last " + std::to_string(row.last));
        char out[64] = "garbage";
        EXPECT_EQ(take(out, row.text, row.marker, row.include, row.last), row.result);
        EXPECT_STREQ(out, row.expected);

        // The output may be the text's own buffer.
        char inPlace[64];
        std::strcpy(inPlace, row.text);
        EXPECT_EQ(take(inPlace, inPlace, row.marker, row.include, row.last), row.result);
        EXPECT_STREQ(inPlace, row.expected);
    }
}

TEST(TextUtil, TakeAfter)
{
    CheckTake(TakeAfter, {
                             {"x=y=z", "=", 0, 0, 1, "y=z"},
                             {"x=y=z", "=", 0, 1, 1, "z"},
                             {"x=y=z", "=", 1, 0, 1, "=y=z"},
                             {"x=y=z", "=", 1, 1, 1, "=z"},
                             {"x=y=z", "#", 0, 0, -1, ""},
                             {"x=y=z", "#", 1, 1, -1, ""},
                             {"x=y=", "=", 0, 1, 1, ""},
                             {"x=y=z", "=", -1, -5, 1, "y=z"}, // only a flag above zero counts as set
                             {"x=y=z", "", 0, 0, -1, ""},
                         });
}

TEST(TextUtil, TakeBefore)
{
    CheckTake(TakeBefore, {
                              {"x=y=z", "=", 0, 0, 1, "x"},
                              {"x=y=z", "=", 0, 1, 1, "x=y"},
                              {"x=y=z", "=", 1, 0, 1, "x="},
                              {"x=y=z", "=", 1, 1, 1, "x=y="},
                              {"x=y=z", "#", 0, 0, -1, ""},
                              {"x=y=z", "#", 1, 1, -1, ""},
                              {"=x", "=", 0, 0, 1, ""},
                              {"C:\\Tools\\Quillmark.exe", "\\", 1, 1, 1, "C:\\Tools\\"},
                              {"Quillmark.exe", "\\", 1, 1, -1, ""},
                          });
}

TEST(TextUtil, TakeBetween)
{
    struct Row
    {
        const char *text;
        const char *left;
        const char *right;
        int includeLeft, includeRight, lastLeft, lastRight;
        int result;
        const char *expected;
    };
    const Row rows[] = {
        {"x[1]y", "[", "]", 0, 0, 0, 0, 1, "1"},
        {"x[1]y", "[", "]", 1, 1, 0, 0, 1, "[1]"},
        {"x[1y", "[", "]", 0, 0, 0, 0, -1, ""},
        {"x1]y", "[", "]", 0, 0, 0, 0, -1, ""},
        {"a[1][2]b", "[", "]", 0, 0, 1, 0, 1, "2"},
        {"a[1][2]b", "[", "]", 0, 0, 0, 1, 1, "1][2"},
        // The right marker is looked for only behind the left one.
        {"]x[1", "[", "]", 0, 0, 0, 0, -1, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        char out[32] = "garbage";
        EXPECT_EQ(TakeBetween(out, row.text, row.left, row.right, row.includeLeft, row.includeRight,
                              row.lastLeft, row.lastRight),
                  row.result);
        EXPECT_STREQ(out, row.expected);
        char inPlace[32];
        std::strcpy(inPlace, row.text);
        EXPECT_EQ(TakeBetween(inPlace, inPlace, row.left, row.right, row.includeLeft, row.includeRight,
                              row.lastLeft, row.lastRight),
                  row.result);
        EXPECT_STREQ(inPlace, row.expected);
    }
}

TEST(TextUtil, Trims)
{
    enum Op
    {
        Leading,
        Trailing,
        Both,
        LeadingQuote,
        TrailingQuote
    };
    struct Row
    {
        Op op;
        const char *text;
        const char *expected;
    };
    const Row rows[] = {
        {Both, " \t \t", ""},
        {Both, "", ""},
        {Both, " \ta b\t ", "a b"},
        {Leading, " \ta b\t ", "a b\t "},
        {Trailing, " \ta b\t ", " \ta b"},
        {Both, "\r\na\r\n", "\r\na\r\n"}, // only spaces and tabs are blanks
        {LeadingQuote, "\"\"", ""},
        {TrailingQuote, "\"\"", ""},
        {LeadingQuote, "\"\"a\"", "a\""},
        {TrailingQuote, "\"a\"\"", "\"a"},
        {LeadingQuote, " \"a", " \"a"},
    };
    for (const Row &row : rows) {
        auto buffer = ExactBuffer(row.text, std::strlen(row.text) + 1);
        switch (row.op) {
        case Leading:
            TrimLeadingBlanks(buffer.get());
            break;
        case Trailing:
            TrimTrailingBlanks(buffer.get());
            break;
        case Both:
            TrimBlanks(buffer.get());
            break;
        case LeadingQuote:
            TrimLeadingChar(buffer.get(), '"');
            break;
        case TrailingQuote:
            TrimTrailingChar(buffer.get(), '"');
            break;
        }
        EXPECT_STREQ(buffer.get(), row.expected) << "op " << row.op << " on [" << row.text << "]";
    }
}

TEST(TextUtil, ReplaceLast)
{
    struct Row
    {
        const char *text;
        const char *pattern;
        const char *replacement;
        int result;
        const char *expected;
    };
    const Row rows[] = {
        {"C:\\A.exe\\B.exe", ".exe", "_old", 1, "C:\\A.exe\\B_old"},
        {"/opt/q/Quillmark", ".exe", "_old", -1, "/opt/q/Quillmark"},
        {"aaaa", "aa", "b", 1, "aab"},
        {"ab", "b", "bbbb", 1, "abbbb"},
        {"abc", "b", "", 1, "ac"},
        {"abc", "", "x", -1, "abc"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        // Exactly as large as the result needs, or the text, whichever is larger.
        const size_t size = std::max(std::strlen(row.text), std::strlen(row.expected)) + 1;
        auto buffer = ExactBuffer(row.text, size);
        EXPECT_EQ(ReplaceLast(buffer.get(), row.pattern, row.replacement, size), row.result);
        EXPECT_STREQ(buffer.get(), row.expected);
    }
}

TEST(TextUtil, ReplaceLastRefusesToOutgrowItsBuffer)
{
    const char text[] = "C:\\A\\B.exe";
    const size_t size = sizeof text; // "_older" makes the text two bytes longer
    auto buffer = ExactBuffer(text, size);
    EXPECT_EQ(ReplaceLast(buffer.get(), ".exe", "_older", size), -1);
    EXPECT_STREQ(buffer.get(), text);

    auto larger = ExactBuffer(text, size + 2);
    EXPECT_EQ(ReplaceLast(larger.get(), ".exe", "_older", size + 2), 1);
    EXPECT_STREQ(larger.get(), "C:\\A\\B_older");
}

TEST(TextUtil, IntToReversedDigits)
{
    struct Row
    {
        int32_t value;
        const char *expected;
    };
    const Row rows[] = {
        {1234, "4321"},
        {10, "01"},
        {0, "0"},
        {-56, "65-"},
        {7, "7"},
        {INT32_MAX, "7463847412"},
        {INT32_MIN, "8463847412-"}, // its magnitude does not fit in 32 bits
    };
    for (const Row &row : rows) {
        char out[16];
        std::memset(out, 'X', sizeof out);
        IntToReversedDigits(row.value, out);
        EXPECT_STREQ(out, row.expected) << row.value;
    }
}

TEST(TextUtil, GetJsonField)
{
    struct Row
    {
        const char *text;
        const char *field;
        const char *expected;
    };
    const Row rows[] = {
        {"{\"Quillmark\":\"0a1b2c\",\"other\":\"x\"}", "Quillmark", "0a1b2c"},
        {"{ \"Quillmark\" :  \t\"0a1b\" \t, \"b\":1}", "Quillmark", "0a1b"},
        {"{\"a\":\"1\",\"Quillmark\":\"last\"}", "Quillmark", "last"},
        {"{\"Quillmark\": \"only\" }", "Quillmark", "only"},
        {"{\"size\": 42, \"x\":1}", "size", "42"},
        {"{\"other\":\"x\"}", "Quillmark", ""},
        {"{\"quillmark\":\"low\",\"Quillmark\":\"UP\"}", "Quillmark", "UP"},
        {"{\"quillmark\":\"low\",\"Quillmark\":\"UP\"}", "quillmark", "low"},
        {"{\"QUILLMARK\":\"UP\"}", "Quillmark", ""},
        {"{\"Quillmark2\":\"no\"}", "Quillmark", ""}, // the closing quote is part of the pattern
        {"{\"a\":\"x,y\"}", "a", "x"},                // a comma ends the value even inside quotes
        {"{\"a\":\"\"}", "a", ""},
        {"{\"a\"}", "a", ""},
        {"{\"a\":\"b\"", "a", ""}, // neither ',' nor '}' behind the value
        {"", "a", ""},
    };
    for (const Row &row : rows) {
        char out[64] = "garbage";
        GetJsonField(out, row.text, row.field, sizeof out);
        EXPECT_STREQ(out, row.expected) << row.text << " field " << row.field;
    }
}

// Only the value is written to the output, however long the reply behind the field is.
TEST(TextUtil, GetJsonFieldWritesNoMoreThanTheValue)
{
    std::string reply = "{\"Quillmark\":\"0123456789abcdef\",\"notes\":\"";
    reply += std::string(4000, 'n');
    reply += "\"}";
    auto out = ExactBuffer("", 17);
    GetJsonField(out.get(), reply.c_str(), "Quillmark", 17);
    EXPECT_STREQ(out.get(), "0123456789abcdef");

    auto small = ExactBuffer("", 16);
    GetJsonField(small.get(), reply.c_str(), "Quillmark", 16);
    EXPECT_STREQ(small.get(), "") << "a value that does not fit is not cut";

    const std::string longName(1022, 'k'); // with its two quotes over 1023 bytes
    const std::string withLongName = "{\"" + longName + "\":\"v\"}";
    char value[8] = "garbage";
    GetJsonField(value, withLongName.c_str(), longName.c_str(), sizeof value);
    EXPECT_STREQ(value, "");
    const std::string fitting(1021, 'k');
    const std::string withFitting = "{\"" + fitting + "\":\"v\"}";
    GetJsonField(value, withFitting.c_str(), fitting.c_str(), sizeof value);
    EXPECT_STREQ(value, "v");
}

} // namespace
