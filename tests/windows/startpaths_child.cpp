// Computes the start-up paths from its own argv as the program's start-up does, and records them in the
// file named by the environment variable QM_STARTPATHS_OUT.
#include "platform/selfpath.h"
#include "support/startpaths.h"

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    char out[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QM_STARTPATHS_OUT", out, sizeof out);
    if (n == 0 || n >= sizeof out)
        return 2;
    char ownPath[kStartPathSize] = {};
    const char *exePath = argc > 0 && argv[0] ? argv[0] : "";
    if (OwnExecutablePath(exePath, ownPath, sizeof ownPath) == 0)
        exePath = ownPath;
    const int result = InitStartPaths(argc > 1 ? argv[1] : nullptr, exePath, NativeSeparator());

    const std::string text = "result=" + std::to_string(result) + "\nStartArgument=" + StartArgument +
                             "\nExePath=" + ExePath + "\nAppDir=" + AppDir +
                             "\nSettingsFilePath=" + SettingsFilePath +
                             "\nUpdatePackagePath=" + UpdatePackagePath + "\n";
    std::FILE *f = std::fopen((std::string(out) + ".part").c_str(), "wb");
    if (f == nullptr)
        return 2;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return MoveFileExA((std::string(out) + ".part").c_str(), out, MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
