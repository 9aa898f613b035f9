#include "platform/printerchoice.h"

// Word and WPS run as servers of their own and print to the Windows default printer. The only way to
// aim them elsewhere (Word's ActivePrinter) changes the default printer for every program of the user,
// and stays changed when the run is cut off, so a choice per run is refused rather than faked.
bool UsePrinterForThisProcess(const std::string &name, std::string *problem)
{
    *problem = "Windows 上不支持 --printer（" + name +
               "）：Word 和 WPS 总是打印到 Windows 的默认打印机，请在系统的打印机设置中更改默认打印机。";
    return false;
}
