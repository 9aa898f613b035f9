#pragma once
// Chooses the 8-bit code page of QString::toLocal8Bit / fromLocal8Bit: on Linux UTF-8 also when the
// process runs in the C or POSIX locale (or one that is not installed), where Qt would otherwise fall back to
// Latin-1 and turn Chinese file names into question marks; a locale with another real code page is kept.
// On Windows the system's ANSI code page stays in use. Call once, before the first conversion.
void InitLocal8BitCodec();
