#include "platform/printerchoice.h"

#include <cups/cups.h>

#include <cstdlib>

bool UsePrinterForThisProcess(const std::string &name, std::string *problem)
{
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
    if (!dest) {
        // An unknown name and nobody to ask give the same error code; a connection tells them apart.
        http_t *http =
            httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
        if (http) {
            httpClose(http);
            *problem = "找不到打印机：" + name;
        } else {
            *problem = "无法连接打印服务,无法打印!";
        }
        return false;
    }
    cupsFreeDests(1, dest);
    // libcups takes the default destination from PRINTER before LPDEST and the user's lpoptions; the
    // office started for the run inherits both.
    ::setenv("PRINTER", name.c_str(), 1);
    ::unsetenv("LPDEST");
    return true;
}
