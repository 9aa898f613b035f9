#pragma once
// The release digest of a file.

// MD5 of the file as 32 lowercase hex digits into digestHex (at least 33 bytes). 0, or -1 when the file
// cannot be opened (digestHex unchanged).
int FileMd5Hex(const char *filePath, char *digestHex);
