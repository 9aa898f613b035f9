#include "platform/comserverrules.h"

#include <algorithm>
#include <cwchar>

namespace {

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
}

std::wstring UpperText(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), Upper);
    return text;
}

bool HasExtension(const std::wstring &path)
{
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

} // namespace

std::wstring ProgramOfCommand(const std::wstring &command,
                              const std::function<bool(const std::wstring &)> &isFile)
{
    const size_t start = command.find_first_not_of(L" \t");
    if (start == std::wstring::npos)
        return std::wstring();
    if (command[start] == L'"') {
        const size_t end = command.find(L'"', start + 1);
        return command.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    // Each space in turn ends the program's name; the whole text is the last try.
    size_t end = start;
    for (;;) {
        end = command.find_first_of(L" \t", end);
        const std::wstring part =
            command.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (isFile(part))
            return part;
        if (!HasExtension(part) && isFile(part + L".exe"))
            return part + L".exe";
        if (end == std::wstring::npos)
            return std::wstring();
        end = command.find_first_not_of(L" \t", end);
        if (end == std::wstring::npos)
            return std::wstring();
    }
}

std::wstring UpperFileName(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return UpperText(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

bool IsAutomationCommandLine(const std::wstring &commandLine)
{
    const std::wstring upper = UpperText(commandLine);
    for (const wchar_t *word : {L"AUTOMATION", L"EMBEDDING"}) {
        for (size_t at = upper.find(word); at != std::wstring::npos; at = upper.find(word, at + 1)) {
            const size_t after = at + wcslen(word);
            // A switch of its own: "/Automation" or "-Embedding", not part of a path or a longer word.
            const bool switchBefore =
                at >= 1 && (upper[at - 1] == L'/' || upper[at - 1] == L'-') &&
                (at == 1 || upper[at - 2] == L' ' || upper[at - 2] == L'\t' || upper[at - 2] == L'"');
            const bool endsAfter = after == upper.size() || upper[after] == L' ' || upper[after] == L'\t' ||
                                   upper[after] == L'"';
            if (switchBefore && endsAfter)
                return true;
        }
    }
    return false;
}

unsigned long PickServer(const std::vector<ServerCandidate> &appeared, const std::wstring &registeredFileName)
{
    std::vector<const ServerCandidate *> servers;
    for (const ServerCandidate &c : appeared) {
        if (c.sameSession && c.parentAccepted && IsAutomationCommandLine(c.commandLine))
            servers.push_back(&c);
    }
    // A launcher is the parent of another candidate.
    std::vector<const ServerCandidate *> kept;
    for (const ServerCandidate *c : servers) {
        const bool launcher = std::any_of(servers.begin(), servers.end(),
                                          [&](const ServerCandidate *o) { return o->parentId == c->id; });
        if (!launcher)
            kept.push_back(c);
    }
    const std::wstring registered = UpperText(registeredFileName);
    const ServerCandidate *named = nullptr;
    int namedCount = 0;
    for (const ServerCandidate *c : kept) {
        if (!registered.empty() && c->fileName == registered) {
            named = c;
            ++namedCount;
        }
    }
    if (namedCount == 1)
        return named->id;
    if (namedCount == 0 && kept.size() == 1)
        return kept.front()->id;
    return 0;
}

std::vector<std::wstring> OwnerFileNames(const std::wstring &documentFileName)
{
    std::vector<std::wstring> names{L"~$" + documentFileName};
    for (size_t cut = 1; cut <= 2 && cut < documentFileName.size(); ++cut)
        names.push_back(L"~$" + documentFileName.substr(cut));
    return names;
}
