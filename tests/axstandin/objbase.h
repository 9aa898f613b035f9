#pragma once
// A stand-in for the one COM call of the Windows client; records it like the QAxObject stand-in.

#define COINIT_MULTITHREADED 0x0

long CoInitializeEx(void *reserved, unsigned long coInit);
