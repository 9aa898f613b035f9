#include "platform/screen.h"

#include <windows.h>

void PrimaryScreenSize(int *width, int *height)
{
    if (width != nullptr)
        *width = GetSystemMetrics(SM_CXSCREEN);
    if (height != nullptr)
        *height = GetSystemMetrics(SM_CYSCREEN);
}

void PrimaryScreenArea(int *x, int *y, int *width, int *height)
{
    // The work area is the primary monitor's, without the task bar.
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    if (x != nullptr)
        *x = area.left;
    if (y != nullptr)
        *y = area.top;
    if (width != nullptr)
        *width = area.right - area.left;
    if (height != nullptr)
        *height = area.bottom - area.top;
}
