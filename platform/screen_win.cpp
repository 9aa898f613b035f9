#include "platform/screen.h"

#include <windows.h>

void PrimaryScreenSize(int *width, int *height)
{
    if (width != nullptr)
        *width = GetSystemMetrics(SM_CXSCREEN);
    if (height != nullptr)
        *height = GetSystemMetrics(SM_CYSCREEN);
}
