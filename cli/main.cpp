#include "cli/printcli.h"
#include "print/nativewordprocessor.h"

int main(int argc, char *argv[])
{
    InstallNativeWordProcessor();
    return RunPrintCommandLine(argc, argv);
}
