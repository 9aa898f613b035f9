// Installs a package as the update check does, and kills itself (SIGKILL, no clean-up of any kind) right
// after step N of the installation: each entry unpacked, and each step of the swap.
//   update_install_driver PACKAGE APP_DIR EXE_PATH MD5 N      (N = 0: never; prints the number of steps)
#include "update/packageinstall.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fputs("usage: update_install_driver PACKAGE APP_DIR EXE_PATH MD5 N\n", stderr);
        return 2;
    }
    const int killAfter = std::atoi(argv[5]);
    int steps = 0;
    InstallRequest request{argv[1], argv[2], argv[3], argv[4], [](unsigned) {}};
    request.stepDone = [&steps, killAfter] {
        if (++steps == killAfter) {
            std::raise(SIGKILL);
        }
    };
    const InstallResult result = InstallPackage(request);
    std::printf("steps %d result %d\n", steps, static_cast<int>(result));
    return result == InstallResult::Installed ? 0 : 1;
}
