// How a COM server's program and process are told apart: the rules, on every system.

#include "platform/comserverrules.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

struct CommandCase
{
    const char *name;
    std::wstring command;
    std::set<std::wstring> files;
    std::wstring program;
};

class ProgramOfCommandTable : public testing::TestWithParam<CommandCase>
{
};

TEST_P(ProgramOfCommandTable, ReadAsCreateProcessReadsIt)
{
    const CommandCase &c = GetParam();
    EXPECT_EQ(ProgramOfCommand(c.command, [&](const std::wstring &p) { return c.files.count(p) > 0; }),
              c.program);
}

const std::wstring Word = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE";

INSTANTIATE_TEST_SUITE_P(
    Registrations, ProgramOfCommandTable,
    testing::Values(CommandCase{"OfficeUnquotedWithSpaces", Word + L" /Automation", {Word}, Word},
                    CommandCase{
                        "QuotedTakesTheQuotes", L"\"C:\\A B\\w.exe\" \"C:\\x y\"", {}, L"C:\\A B\\w.exe"},
                    // A file at an earlier cut wins, as it does for CreateProcess.
                    CommandCase{"EarlierCutWins",
                                L"C:\\Program Files\\w.exe /Automation",
                                {L"C:\\Program.exe"},
                                L"C:\\Program.exe"},
                    CommandCase{"ExeAddedWithoutExtension",
                                L"C:\\Tools\\wps /Automation",
                                {L"C:\\Tools\\wps.exe"},
                                L"C:\\Tools\\wps.exe"},
                    CommandCase{"NoFileAtAnyCut", L"C:\\Gone Away\\w.exe /Automation", {}, L""},
                    CommandCase{"Blank", L"   ", {}, L""}),
    [](const testing::TestParamInfo<CommandCase> &info) { return std::string(info.param.name); });

TEST(AutomationCommandLine, OnlyTheSwitchesOfAnAutomationStart)
{
    const std::vector<std::pair<std::wstring, bool>> rows{
        {L"\"" + Word + L"\" /Automation -Embedding", true},
        {L"wordstandin.exe /automation", true},
        {L"wps.exe -Embedding", true},
        {L"wps.exe /Embedding", true},
        {L"\"" + Word + L"\" /n \"C:\\Users\\me\\report.docx\"", false}, // a user's double-click
        {L"C:\\Automation\\word.exe", false},                            // a folder of that name
        {L"word.exe /Automationx", false},
        {L"", false}};
    for (const auto &row : rows)
        EXPECT_EQ(IsAutomationCommandLine(row.first), row.second)
            << std::string(row.first.begin(), row.first.end());
}

struct PickCase
{
    const char *name;
    std::vector<ServerCandidate> appeared;
    unsigned long picked;
};

class PickServerTable : public testing::TestWithParam<PickCase>
{
};

TEST_P(PickServerTable, OnlyAConfirmedServer)
{
    EXPECT_EQ(PickServer(GetParam().appeared, L"WINWORD.EXE"), GetParam().picked);
}

ServerCandidate Process(unsigned long id, const wchar_t *file, const wchar_t *commandLine,
                        unsigned long parent = 1, bool session = true, bool parentAccepted = true)
{
    ServerCandidate c;
    c.id = id;
    c.parentId = parent;
    c.fileName = file;
    c.commandLine = commandLine;
    c.sameSession = session;
    c.parentAccepted = parentAccepted;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Candidates, PickServerTable,
    testing::Values(
        PickCase{"TheServer", {Process(7, L"WINWORD.EXE", L"WINWORD.EXE /Automation -Embedding")}, 7},
        // The user's own Word, started in the same seconds, is no automation server.
        PickCase{"UsersWordBeside",
                 {Process(7, L"WINWORD.EXE", L"WINWORD.EXE /n doc.docx"),
                  Process(8, L"WINWORD.EXE", L"WINWORD.EXE /Automation -Embedding")},
                 8},
        PickCase{"AnotherSession", {Process(7, L"WINWORD.EXE", L"WINWORD.EXE -Embedding", 1, false)}, 0},
        PickCase{"StartedByTheUsersDesktop",
                 {Process(7, L"WINWORD.EXE", L"WINWORD.EXE /Automation", 1, true, false)},
                 0},
        PickCase{"TwoServers",
                 {Process(7, L"WINWORD.EXE", L"WINWORD.EXE -Embedding"),
                  Process(8, L"WINWORD.EXE", L"WINWORD.EXE -Embedding")},
                 0},
        // A launcher of another name starts the server: the launcher is its parent, not the server.
        PickCase{"LauncherStillRunning",
                 {Process(5, L"KSOLAUNCH.EXE", L"ksolaunch.exe /launch -Embedding"),
                  Process(6, L"WPS.EXE", L"wps.exe /Automation -Embedding", 5)},
                 6},
        PickCase{"LauncherGone", {Process(6, L"WPS.EXE", L"wps.exe /Automation -Embedding", 5)}, 6},
        PickCase{"OtherProgramsServerBeside",
                 {Process(6, L"WPS.EXE", L"wps.exe /Automation -Embedding", 5),
                  Process(9, L"EXCEL.EXE", L"EXCEL.EXE /automation -Embedding")},
                 0},
        PickCase{"NothingAppeared", {}, 0}),
    [](const testing::TestParamInfo<PickCase> &info) { return std::string(info.param.name); });

TEST(OwnerFiles, BeforeTheNameOrInPlaceOfItsFirstCharacters)
{
    EXPECT_EQ(OwnerFileNames(L"report.docx"),
              (std::vector<std::wstring>{L"~$report.docx", L"~$eport.docx", L"~$port.docx"}));
}

} // namespace
