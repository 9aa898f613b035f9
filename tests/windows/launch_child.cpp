// Started by LaunchProcess in the tests: records what it was given in the file named by the environment
// variable QM_LAUNCH_OUT (written aside, then renamed, so a reader never sees half of it).
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    char out[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QM_LAUNCH_OUT", out, sizeof out);
    if (n == 0 || n >= sizeof out)
        return 2;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);

    std::string text = "argc=" + std::to_string(argc) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "arg=" + std::string(argv[i]) + "\n";
    text += "flags=" + std::to_string(startup.dwFlags) + "\n";
    text += "show=" + std::to_string(startup.wShowWindow) + "\n";
    text += "stdout=" +
            std::to_string(output == nullptr || output == INVALID_HANDLE_VALUE ? 0 : GetFileType(output)) +
            "\n";
    text += "stdout-is-stderr=" + std::to_string(output == GetStdHandle(STD_ERROR_HANDLE) ? 1 : 0) + "\n";

    std::string part = std::string(out) + ".part";
    std::FILE *f = std::fopen(part.c_str(), "wb");
    if (f == nullptr)
        return 2;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return MoveFileExA(part.c_str(), out, MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
