// Computes the start-up paths from its own argv with the program's own start-up step, and records them in
// the file named by the environment variable QM_STARTPATHS_OUT.
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
    const int result = InitStartPathsFromCommandLine(argc, argv);

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
