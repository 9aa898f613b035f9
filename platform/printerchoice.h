#pragma once
// Sends this process's print jobs to a named printer instead of the default one.

#include <string>

// When a destination of that name exists, makes it this process's default (also for child processes)
// and returns true; otherwise returns false and says why in problem (UTF-8).
bool UsePrinterForThisProcess(const std::string &name, std::string *problem);
