#pragma once
// How a COM automation server is told apart from other processes: the rules alone, without the system
// calls (platform/localserver.h makes those), so that they can be checked anywhere.

#include <functional>
#include <string>
#include <vector>

// The program a registered command line starts, read as CreateProcess reads it: a quoted first part is
// the program; an unquoted one with spaces is tried part by part ("C:\Program Files\Microsoft Office\...
// \WINWORD.EXE /Automation" first tries "C:\Program", then "C:\Program Files\Microsoft", ...), each also
// with ".exe" added when it has no extension, and the first that isFile accepts is taken. Empty when
// none is.
std::wstring ProgramOfCommand(const std::wstring &command,
                              const std::function<bool(const std::wstring &)> &isFile);

// The file name of a path (after its last \ or /), in upper case for comparisons (ASCII letters only).
std::wstring UpperFileName(const std::wstring &path);

// Whether a process's command line is that of a server started for automation: COM adds -Embedding (or
// /Embedding) to the registered command, and Office registers /Automation.
bool IsAutomationCommandLine(const std::wstring &commandLine);

// A process that appeared while the class was being created.
struct ServerCandidate
{
    unsigned long id = 0;
    unsigned long parentId = 0;
    std::wstring fileName;    // upper case, no folder
    std::wstring commandLine; // empty when it could not be read
    bool sameSession = false; // the user's session, the one this program runs in
    // Started by this program, by the system's COM launcher, or by a process that itself appeared
    // meanwhile or is gone (a launcher); not by a program that was running before (the user's desktop).
    bool parentAccepted = false;
};

// Which of the processes that appeared while the class was created is its server, or 0 when that cannot
// be said for certain. Only an automation server of this session with an accepted parent counts; one that
// started another such candidate is a launcher, not the server. A candidate with the registered program's
// file name wins; without one, the single remaining candidate (a launcher started it and is gone). Two or
// more: none, a program started the same server meanwhile and which is ours is not known.
unsigned long PickServer(const std::vector<ServerCandidate> &appeared,
                         const std::wstring &registeredFileName);

// The names Word and WPS give the owner file ("~$...") of a document they have open, beside it: "~$"
// before the name, or in place of its first one or two characters for longer names.
std::vector<std::wstring> OwnerFileNames(const std::wstring &documentFileName);
