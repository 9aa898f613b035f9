// quillmark-shell.exe's decisions: reading Explorer's and the installer's command lines, quoting for
// quillmark-print.exe, the outcome box, and which folder the removal may empty.
#include "winshell/shellcommand.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

struct ParseCase
{
    const wchar_t *commandLine;
    const wchar_t *action;
    const wchar_t *argument;
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
    testing::Values(
        // Explorer's "%1" on a folder, and on a drive: the C run-time would read the latter as E:".
        ParseCase{LR"("C:\Program Files\Q\quillmark-shell.exe" print-folder "C:\文档\季度 报告")",
                  L"print-folder", LR"(C:\文档\季度 报告)"},
        ParseCase{LR"("C:\Q\quillmark-shell.exe" print-folder "E:\")", L"print-folder", LR"(E:\)"},
        ParseCase{LR"(C:\Q\quillmark-shell.exe print-folder E:\)", L"print-folder", LR"(E:\)"},
        ParseCase{LR"("C:\Q\quillmark-shell.exe" print-folder \\server\共享\文档)", L"print-folder",
                  LR"(\\server\共享\文档)"},
        // The installer's folder ends in a backslash; blanks around the parts do not count.
        ParseCase{L"quillmark-shell.exe \t remove-leftovers  \"C:\\Users\\A "
                  L"B\\AppData\\Local\\Programs\\Quillmark\\\" ",
                  L"remove-leftovers", LR"(C:\Users\A B\AppData\Local\Programs\Quillmark\)"},
        ParseCase{LR"("C:\Q\quillmark-shell.exe")", L"", L""},
        ParseCase{LR"("C:\Q\quillmark-shell.exe" print-folder)", L"print-folder", L""},
        // An unclosed quote: all of it is the program's path.
        ParseCase{LR"("C:\Q\quillmark-shell.exe print-folder C:\x)", L"", L""}));

struct QuoteCase
{
    const wchar_t *argument;
    const wchar_t *quoted;
};

class QuoteArgumentTest : public testing::TestWithParam<QuoteCase>
{
};

TEST_P(QuoteArgumentTest, ComesBackUnchanged)
{
    EXPECT_EQ(QuoteArgument(GetParam().argument), GetParam().quoted);
#ifdef _WIN32
    // As quillmark-print.exe (through Qt) reads its arguments.
    int count = 0;
    wchar_t **arguments =
        CommandLineToArgvW((L"x.exe " + QuoteArgument(GetParam().argument)).c_str(), &count);
    ASSERT_NE(arguments, nullptr);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::wstring(arguments[1]), GetParam().argument);
    LocalFree(arguments);
#endif
}

INSTANTIATE_TEST_SUITE_P(Rows, QuoteArgumentTest,
                         testing::Values(QuoteCase{LR"(E:\)", LR"("E:\\")"},
                                         QuoteCase{LR"(C:\文档\季度 报告)", LR"("C:\文档\季度 报告")"},
                                         QuoteCase{LR"(\\server\share\a\\b)", LR"("\\server\share\a\\b")"},
                                         QuoteCase{LR"(say "hi")", LR"("say \"hi\"")"},
                                         QuoteCase{LR"(a\"b\\)", LR"("a\\\"b\\\\")"},
                                         QuoteCase{L"", LR"("")"}));

struct OutcomeCase
{
    const char *name;
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

const wchar_t PartlyOutput[] =
    L"[1/3] a.docx\r\n[2/3] 子\\加密.doc\r\n[3/3] 子\\损坏.docx\r\n"
    L"已打印 2 个文档，未能打印 1 个。\r\n"
    L"未能打印的文档列在：C:\\文档\\季度报告\\无法设置或修改密码的文件目录.txt\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, PrintOutcomeTest,
    testing::Values(
        OutcomeCase{"allPrinted", 0, L"[1/1] a.docx\n已打印 1 个文档，未能打印 0 个。\n",
                    ShellSeverity::Information, L"打印完成：季度报告\n\n已打印 1 个文档，未能打印 0 个。"},
        OutcomeCase{"someFailed", 1, PartlyOutput, ShellSeverity::Warning,
                    L"部分文档未能打印：季度报告\n\n已打印 2 个文档，未能打印 1 个。\n"
                    L"未能打印的文档列在：C:\\文档\\季度报告\\无法设置或修改密码的文件目录.txt"},
        OutcomeCase{"nothingPrinted", 2,
                    L"已打印 0 个文档，未能打印 0 个。\n未找到可用的文字处理软件（Word、WPS 或 "
                    L"LibreOffice），未能打印。\n",
                    ShellSeverity::Error,
                    L"未能打印：季度报告\n\n已打印 0 个文档，未能打印 0 个。\n"
                    L"未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。"},
        OutcomeCase{"interrupted", 130, L"[1/9] a.docx\n已打印 1 个文档，未能打印 0 个。\n打印已中止。\n",
                    ShellSeverity::Warning,
                    L"打印已中止：季度报告\n\n已打印 1 个文档，未能打印 0 个。\n打印已中止。"},
        // A run that crashed or was killed is never taken for a success.
        OutcomeCase{"crashed", 0xC0000005, L"[1/9] a.docx\n", ShellSeverity::Error,
                    L"未能打印：季度报告\n\nquillmark-print.exe 意外结束（退出码 0xC0000005）。"},
        OutcomeCase{"killed", 1234, L"", ShellSeverity::Error,
                    L"未能打印：季度报告\n\nquillmark-print.exe 意外结束（退出码 0x000004D2）。"},
        // A line like a progress line that is not one stays.
        OutcomeCase{"notProgress", 1, L"[未确认] x\n[1/2]x\n", ShellSeverity::Warning,
                    L"部分文档未能打印：季度报告\n\n[未确认] x\n[1/2]x"},
        // Many unconfirmed documents: the head and the tail, where the failure list is named.
        OutcomeCase{
            "long", 1,
            L"已打印 0 个文档，未能打印 0 个。\n未能确认是否已打印：1\n未能确认是否已打印：2\n"
            L"未能确认是否已打印：3\n未能确认是否已打印：4\n未能确认是否已打印：5\n未能确认是否已打印：6\n"
            L"未能确认是否已打印：7\n未能确认是否已打印：8\n未能确认是否已打印：9\n未能确认是否已打印：10\n"
            L"未能确认是否已打印：11\n未能确认是否已打印：12\n未能打印的文档列在：C:\\l.txt\n",
            ShellSeverity::Warning,
            L"部分文档未能打印：季度报告\n\n已打印 0 个文档，未能打印 0 个。\n未能确认是否已打印：1\n"
            L"未能确认是否已打印：2\n未能确认是否已打印：3\n未能确认是否已打印：4\n未能确认是否已打印：5\n……"
            L"\n"
            L"未能确认是否已打印：9\n未能确认是否已打印：10\n未能确认是否已打印：11\n未能确认是否已打印：12\n"
            L"未能打印的文档列在：C:\\l.txt"}),
    [](const testing::TestParamInfo<OutcomeCase> &info) { return std::string(info.param.name); });

TEST(PrintOutcome, NamesADriveByItsRoot)
{
    EXPECT_EQ(PrintOutcomeMessage(LR"(E:\)", 0, L"").text, LR"(打印完成：E:\)");
    EXPECT_EQ(PrintOutcomeMessage(LR"(\\server\share\)", 0, L"").text, L"打印完成：share");
}

struct FolderCase
{
    const wchar_t *folder;
    bool own;
};

class OwnInstallFolderTest : public testing::TestWithParam<FolderCase>
{
};

TEST_P(OwnInstallFolderTest, OnlyTheProgramsOwnFolderIsEmptied)
{
    EXPECT_EQ(IsOwnInstallFolder(GetParam().folder), GetParam().own);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OwnInstallFolderTest,
    testing::Values(
        FolderCase{LR"(C:\Users\A B\AppData\Local\Programs\Quillmark\)", true},
        FolderCase{LR"(C:\users\root\AppData\Local\Programs\quillmark)", true},
        FolderCase{LR"(D:\Quillmark\)", true}, FolderCase{LR"(\\server\share\Quillmark\)", true},
        FolderCase{LR"(C:\)", false}, FolderCase{LR"(C:)", false}, FolderCase{L"", false},
        FolderCase{L"Quillmark", false}, FolderCase{LR"(\Quillmark\)", false},
        FolderCase{LR"(C:\Users\A\Documents\)", false}, FolderCase{LR"(C:\Users\A\Quillmark2\)", false},
        FolderCase{LR"(C:\Users\A\Quillmark\..\)", false},
        FolderCase{LR"(C:\Users\A\Quillmark\..\..\Quillmark)", false},
        FolderCase{LR"(C:\Users\\Quillmark)", false}, FolderCase{LR"(C:\Users\A\Quillmark\\)", false},
        FolderCase{LR"(C:/Users/A/Quillmark/)", false}, FolderCase{LR"(\\server\Quillmark)", false}));

TEST(KeptAtRemoval, OnlyTheSettingsFile)
{
    const struct
    {
        const wchar_t *name;
        bool kept;
    } rows[] = {{L"Quillmark.kov", true},    {L"QUILLMARK.KOV", true},  {L"Quillmark.kov.part", false},
                {L"Quillmark_old", false},   {L"Quillmark.zip", false}, {L"Quillmark_update.aB3xYz", false},
                {L"x\\Quillmark.kov", false}};
    for (const auto &row : rows)
        EXPECT_EQ(IsKeptAtRemoval(row.name), row.kept) << testing::PrintToString(std::wstring(row.name));
}

} // namespace
