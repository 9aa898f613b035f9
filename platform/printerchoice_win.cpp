#include "platform/printerchoice.h"

// The Windows word processors print to the system's default printer; choosing another one per run is
// not offered there.
bool UsePrinterForThisProcess(const std::string &name, std::string *problem)
{
    *problem = "此系统不支持指定打印机：" + name;
    return false;
}
