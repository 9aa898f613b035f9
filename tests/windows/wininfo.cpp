// Shows a test what Windows itself knows of a program's top-level window, found by its title: its frame,
// its client size, whether it is visible, and the work area it was placed in. Exit code 1: no such window.
//   windows_wininfo TITLE
#include <windows.h>

#include <cstdio>
#include <shellapi.h>

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) {
        std::fprintf(stderr, "usage: windows_wininfo TITLE\n");
        return 2;
    }
    RECT work = {0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("work %ld %ld %ld %ld\n", work.left, work.top, work.right, work.bottom);
    HWND window = FindWindowW(nullptr, argv[1]);
    if (window == nullptr) {
        std::printf("none\n");
        return 1;
    }
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    std::printf("window %ld %ld %ld %ld\nclient %ld %ld\nvisible %d\nprocess %lu\n", frame.left, frame.top,
                frame.right, frame.bottom, client.right, client.bottom, IsWindowVisible(window) ? 1 : 0,
                process);
    return 0;
}
