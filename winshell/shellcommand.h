#pragma once
// quillmark-shell.exe: what the program does for the Windows shell, decided without calling Windows.
//   quillmark-shell.exe print-folder "FOLDER"         Explorer's "打印全部 Word 文档" on a folder or drive
//   quillmark-shell.exe stop-programs "INSTALL\"      the installer, before it removes the files
//   quillmark-shell.exe remove-leftovers "INSTALL\"   the installer, after it removed its own files
// No Qt: the program must start fast from Explorer and stay small.

#include <string>

struct ShellCommand
{
    std::wstring action;
    std::wstring argument; // as written, without one pair of surrounding quotes
};

// The action and its one argument from the whole command line as Windows hands it over (GetCommandLineW).
// The argument is taken literally rather than by the C run-time's backslash rules: Explorer passes a drive
// as "E:\" and the installer its folders with a trailing backslash, which those rules would read as E:".
// A path cannot hold a quote, so this loses nothing.
ShellCommand ParseShellCommand(const std::wstring &commandLine);

// The argument written so that CommandLineToArgvW (and so Qt) gives it back unchanged.
std::wstring QuoteArgument(const std::wstring &argument);

enum class ShellSeverity
{
    Information,
    Warning,
    Error,
};

struct ShellMessage
{
    std::wstring title;
    std::wstring text;
    ShellSeverity severity;
};

// The box shown after quillmark-print.exe ended on folder with exitCode, having written output (its
// standard output and error, decoded): the outcome, the folder's name and the command line's summary
// (counts, unconfirmed documents, where the failure list is), never its progress lines.
ShellMessage PrintOutcomeMessage(const std::wstring &folder, unsigned long exitCode,
                                 const std::wstring &output);

// The box shown when quillmark-print.exe could not be started.
ShellMessage LaunchFailedMessage(const std::wstring &program);

// Whether the installer's clean-up may empty this folder: an absolute path (drive or network share) whose
// last part is "Quillmark", the folder the installer made. Anything else (a drive's root, a folder a user
// chose or typed) is never emptied, whatever the installer's properties say.
bool IsOwnInstallFolder(const std::wstring &folder);

// Whether an entry of the install folder stays when the program is removed: the settings file. An upgrade
// removes the older release first, and Windows Installer under Wine does not tell that removal from an
// uninstall, so what an uninstall took would be lost at every upgrade there.
bool IsKeptAtRemoval(const std::wstring &name);
