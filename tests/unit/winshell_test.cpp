// quillmark-shell.exe's decisions: reading Explorer's and the installer's command lines, quoting for
// quillmark-print.exe, the outcome box, and what the removal may take.
#include "winshell/shellcommand.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

struct ParseCase
{
    const wchar_t *commandLine, *action, *argument;
};

class ParseShellCommandTest : public testing::TestWithParam<ParseCase>
{
};

TEST_P(ParseShellCommandTest, TakesTheArgumentAsWritten)
{
    const ShellCommand command = ParseShellCommand(GetParam().commandLine);
    EXPECT_EQ(command.action, GetParam().action);
    EXPECT_EQ(command.argument, GetParam().argument);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseShellCommandTest,
    testing::Values(ParseCase{LR"("C:\Program Files\Q\quillmark-shell.exe" print-folder "C:\文档\季度 报告")",
                              L"print-folder", LR"(C:\文档\季度 报告)"},
                    // Explorer's "%1" on a drive, which the C run-time would read as E:".
                    ParseCase{LR"("C:\Q\quillmark-shell.exe" print-folder "E:\")", L"print-folder",
                              LR"(E:\)"},
                    ParseCase{LR"(C:\Q\quillmark-shell.exe print-folder \\server\共享)", L"print-folder",
                              LR"(\\server\共享)"},
                    ParseCase{L"q.exe \t remove-leftovers  \"C:\\A B\\Quillmark\\\" ", L"remove-leftovers",
                              LR"(C:\A B\Quillmark\)"},
                    // An unclosed quote: all of it is the program's path.
                    ParseCase{LR"("C:\Q\quillmark-shell.exe print-folder C:\x)", L"", L""}));

class QuoteArgumentTest : public testing::TestWithParam<std::pair<const wchar_t *, const wchar_t *>>
{
};

TEST_P(QuoteArgumentTest, ComesBackUnchanged)
{
    EXPECT_EQ(QuoteArgument(GetParam().first), GetParam().second);
#ifdef _WIN32
    // As quillmark-print.exe (through Qt) reads its arguments.
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW((L"x.exe " + QuoteArgument(GetParam().first)).c_str(), &count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::wstring(arguments[1]), GetParam().first);
    LocalFree(arguments);
#endif
}

INSTANTIATE_TEST_SUITE_P(Rows, QuoteArgumentTest,
                         testing::Values(std::make_pair(LR"(E:\)", LR"("E:\\")"),
                                         std::make_pair(LR"(C:\季度 报告)", LR"("C:\季度 报告")"),
                                         std::make_pair(LR"(a\"b\\)", LR"("a\\\"b\\\\")"),
                                         std::make_pair(L"", LR"("")")));

struct OutcomeCase
{
    unsigned long exitCode;
    const wchar_t *output;
    ShellSeverity severity;
    const wchar_t *text;
};

class PrintOutcomeTest : public testing::TestWithParam<OutcomeCase>
{
};

TEST_P(PrintOutcomeTest, SaysWhatHappenedWithoutTheProgress)
{
    const ShellMessage message =
        PrintOutcomeMessage(LR"(C:\文档\季度报告\)", GetParam().exitCode, GetParam().output);
    EXPECT_EQ(message.title, L"澄笺");
    EXPECT_EQ(message.severity, GetParam().severity);
    EXPECT_EQ(message.text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PrintOutcomeTest,
    testing::Values(
        OutcomeCase{0, L"[1/1] a.docx\n已打印 1 个文档，未能打印 0 个。\n", ShellSeverity::Information,
                    L"打印完成：季度报告\n\n已打印 1 个文档，未能打印 0 个。"},
        OutcomeCase{
            1,
            L"[1/2] a.docx\r\n[2/2] 子\\b.doc\r\n已打印 1 个文档，未能打印 1 "
            L"个。\r\n未能打印的文档列在：C:\\l.txt\r\n",
            ShellSeverity::Warning,
            L"部分文档未能打印：季度报告\n\n已打印 1 个文档，未能打印 1 个。\n未能打印的文档列在：C:\\l.txt"},
        OutcomeCase{2, L"未找到可用的文字处理软件。\n", ShellSeverity::Error,
                    L"未能打印：季度报告\n\n未找到可用的文字处理软件。"},
        // A run that crashed or was killed is never taken for a success.
        OutcomeCase{0xC0000005, L"[1/9] a.docx\n", ShellSeverity::Error,
                    L"未能打印：季度报告\n\nquillmark-print.exe 意外结束（退出码 0xC0000005）。"},
        // Lines like progress lines that are not stay.
        OutcomeCase{1, L"[未确认] x\n[1/2]x\n", ShellSeverity::Warning,
                    L"部分文档未能打印：季度报告\n\n[未确认] x\n[1/2]x"}));

TEST(PrintOutcome, LongSummaryKeepsItsHeadAndTail)
{
    std::wstring output, expected = L"部分文档未能打印：季度报告\n";
    for (int line = 1; line <= 14; ++line) {
        output += L"未能确认是否已打印：" + std::to_wstring(line) + L"\n";
        if (line <= 6 || line >= 10)
            expected += L"\n未能确认是否已打印：" + std::to_wstring(line);
        if (line == 6)
            expected += L"\n……";
    }
    EXPECT_EQ(PrintOutcomeMessage(LR"(C:\文档\季度报告)", 1, output).text, expected);
    EXPECT_EQ(PrintOutcomeMessage(LR"(E:\)", 0, L"").text, LR"(打印完成：E:\)");
}

class OwnInstallFolderTest : public testing::TestWithParam<std::pair<const wchar_t *, bool>>
{
};

TEST_P(OwnInstallFolderTest, OnlyTheProgramsOwnFolderIsEmptied)
{
    EXPECT_EQ(IsOwnInstallFolder(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OwnInstallFolderTest,
    testing::Values(std::make_pair(LR"(C:\Users\A B\AppData\Local\Programs\Quillmark\)", true),
                    std::make_pair(LR"(c:\users\root\quillmark)", true),
                    std::make_pair(LR"(\\server\share\Quillmark\)", true), std::make_pair(LR"(C:\)", false),
                    std::make_pair(L"", false), std::make_pair(L"Quillmark", false),
                    std::make_pair(LR"(\Quillmark\)", false),
                    std::make_pair(LR"(C:\Users\A\Documents\)", false),
                    std::make_pair(LR"(C:\Users\A\Quillmark2\)", false),
                    std::make_pair(LR"(C:\Users\A\Quillmark\..\..\Quillmark)", false),
                    std::make_pair(LR"(C:\Users\\Quillmark)", false),
                    std::make_pair(LR"(C:/Users/A/Quillmark/)", false),
                    std::make_pair(LR"(\\server\Quillmark)", false)));

TEST(KeptAtRemoval, OnlyTheSettingsFile)
{
    EXPECT_TRUE(IsKeptAtRemoval(L"Quillmark.kov"));
    EXPECT_TRUE(IsKeptAtRemoval(L"QUILLMARK.KOV"));
    for (const wchar_t *name :
         {L"Quillmark.kov.part", L"Quillmark_old", L"Quillmark.zip", L"Quillmark_update.x1"})
        EXPECT_FALSE(IsKeptAtRemoval(name)) << testing::PrintToString(std::wstring(name));
}

} // namespace
