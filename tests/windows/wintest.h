#pragma once
// Helpers for the Windows-only tests: scratch folders, files and child processes, all through the ANSI
// API, so that paths are bytes in the system's ANSI code page just as the program sees them.

#include <windows.h>

#include <string>

namespace wintest {

// Names in code page 936 (GBK), written as bytes so that the source does not depend on its own encoding.
// "测试文件.txt", "文件夹", "打印", "D:\文档\"
inline const char kGbkFileName[] = "\xb2\xe2\xca\xd4\xce\xc4\xbc\xfe.txt";
inline const wchar_t kWideFileName[] = L"\u6d4b\u8bd5\u6587\u4ef6.txt";
inline const char kGbkFolderName[] = "\xce\xc4\xbc\xfe\xbc\xd0";
inline const wchar_t kWideFolderName[] = L"\u6587\u4ef6\u5939";
inline const char kGbkPrintName[] = "\xb4\xf2\xd3\xa1";
inline const char kGbkDocsPath[] = "D:\\\xce\xc4\xb5\xb5\\";

// A new empty folder under the temporary folder, without a trailing separator.
std::string MakeScratchFolder(const char *tag);
// Deletes a folder and everything in it. Best effort.
void RemoveTree(const std::string &folder);
// The folder of the running test program, without a trailing separator.
std::string OwnFolder();
bool WriteBytes(const std::string &path, const std::string &bytes);
// The whole file, or "<missing>" when it cannot be opened.
std::string ReadBytes(const std::string &path);
// Same, for a path given in UTF-16: a second opinion on what an ANSI path meant.
std::string ReadBytesWide(const std::wstring &path);
// Waits up to timeoutMs for a file to appear.
bool WaitForFile(const std::string &path, unsigned timeoutMs);

// A child process started with CreateProcessA; ended by handle when the object goes away.
class Child
{
public:
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();
    bool Start(const std::string &application, const std::string &arguments = std::string());
    // The command line exactly as given (its first token is what the program sees as argv[0]).
    bool StartWithCommandLine(const std::string &application, const std::string &commandLine,
                              const std::string &currentFolder = std::string());
    // True when the process ended within timeoutMs.
    bool WaitForExit(unsigned timeoutMs);
    DWORD ExitCode() const;
    HANDLE Handle() const { return process_; }

private:
    HANDLE process_ = nullptr;
};

} // namespace wintest
