#include "winshell/shellcommand.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <vector>

namespace {

const wchar_t Title[] = L"澄笺";
// Lines of the summary shown whole; beyond that its head and tail, the rest is in the failure list.
constexpr std::size_t kMaxLines = 12;
constexpr std::size_t kHeadLines = 6;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

std::size_t SkipBlanks(const std::wstring &text, std::size_t at)
{
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    return at;
}

// "[12/50] 报告\三月.docx": the command line's line for a document as it starts.
bool IsProgressLine(const std::wstring &line)
{
    static const std::wregex progress(L"\\[[0-9]+/[0-9]+\\] .*");
    return std::regex_match(line, progress);
}

std::vector<std::wstring> SummaryLines(const std::wstring &output)
{
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find(L'\n', start);
        if (end == std::wstring::npos)
            end = output.size();
        std::wstring line = output.substr(start, end - start);
        while (!line.empty() && (line.back() == L'\r' || IsBlank(line.back())))
            line.pop_back();
        if (!line.empty() && !IsProgressLine(line))
            lines.push_back(line);
        start = end + 1;
    }
    if (lines.size() > kMaxLines) {
        const std::size_t tail = kMaxLines - kHeadLines - 1;
        lines.erase(lines.begin() + kHeadLines, lines.end() - tail);
        lines.insert(lines.begin() + kHeadLines, L"……");
    }
    return lines;
}

// The name a user knows the folder by: its last part, or the whole path for a drive's root.
std::wstring FolderName(const std::wstring &folder)
{
    std::wstring path = folder;
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring last = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (last.empty() || (last.size() == 2 && last[1] == L':'))
        return folder;
    return last;
}

bool EqualsIgnoringAsciiCase(const std::wstring &a, const std::wstring &b)
{
    const auto lower = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}

} // namespace

ShellCommand ParseShellCommand(const std::wstring &commandLine)
{
    // The program's own path: quoted up to the next quote, or up to the first blank.
    std::size_t at = SkipBlanks(commandLine, 0);
    if (at < commandLine.size() && commandLine[at] == L'"') {
        const std::size_t close = commandLine.find(L'"', at + 1);
        at = close == std::wstring::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size() && !IsBlank(commandLine[at]))
        ++at;

    ShellCommand command;
    at = SkipBlanks(commandLine, at);
    const std::size_t actionStart = at;
    while (at < commandLine.size() && !IsBlank(commandLine[at]))
        ++at;
    command.action = commandLine.substr(actionStart, at - actionStart);

    std::wstring argument = commandLine.substr(SkipBlanks(commandLine, at));
    while (!argument.empty() && IsBlank(argument.back()))
        argument.pop_back();
    if (argument.size() >= 2 && argument.front() == L'"' && argument.back() == L'"')
        argument = argument.substr(1, argument.size() - 2);
    command.argument = argument;
    return command;
}

std::wstring QuoteArgument(const std::wstring &argument)
{
    // Backslashes count only before a quote: there each is doubled, and the quote escaped.
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

ShellMessage PrintOutcomeMessage(const std::wstring &folder, unsigned long exitCode,
                                 const std::wstring &output)
{
    ShellMessage message{Title, std::wstring(), ShellSeverity::Error};
    std::wstring headline;
    switch (exitCode) {
    case 0:
        headline = L"打印完成";
        message.severity = ShellSeverity::Information;
        break;
    case 1:
        headline = L"部分文档未能打印";
        message.severity = ShellSeverity::Warning;
        break;
    case 130:
        headline = L"打印已中止";
        message.severity = ShellSeverity::Warning;
        break;
    default: // 2, and anything a crashed or killed run leaves
        headline = L"未能打印";
        break;
    }
    message.text = headline + L"：" + FolderName(folder);
    std::vector<std::wstring> lines = SummaryLines(output);
    if (exitCode != 0 && exitCode != 1 && exitCode != 2 && exitCode != 130) {
        wchar_t code[16];
        std::swprintf(code, sizeof code / sizeof code[0], L"0x%08lX", exitCode);
        lines.push_back(std::wstring(L"quillmark-print.exe 意外结束（退出码 ") + code + L"）。");
    }
    if (!lines.empty())
        message.text += L"\n";
    for (const std::wstring &line : lines)
        message.text += L"\n" + line;
    return message;
}

ShellMessage LaunchFailedMessage(const std::wstring &program)
{
    return ShellMessage{Title, L"未能打印：无法启动 " + program, ShellSeverity::Error};
}

bool IsOwnInstallFolder(const std::wstring &folder)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    // The root: "X:" or "\\server\share".
    std::size_t at;
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
        at = 3;
    } else if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        const std::size_t share = path.find(L'\\', 2);
        if (share == std::wstring::npos || share == 2)
            return false;
        at = path.find(L'\\', share + 1);
        if (at == std::wstring::npos || at == share + 1)
            return false;
        ++at;
    } else {
        return false;
    }
    if (path.find(L'/') != std::wstring::npos)
        return false;
    std::wstring last;
    while (at <= path.size()) {
        std::size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos)
            end = path.size();
        last = path.substr(at, end - at);
        if (last.empty() || last == L"." || last == L"..")
            return false;
        at = end + 1;
    }
    return EqualsIgnoringAsciiCase(last, L"Quillmark");
}

bool IsKeptAtRemoval(const std::wstring &name)
{
    return EqualsIgnoringAsciiCase(name, L"Quillmark.kov");
}
