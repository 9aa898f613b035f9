#pragma once
// How the file system of this platform treats the names of files the updater writes. Qt-free.

#include <string>

// True where names follow the Windows rules: compared without regard to case, no trailing dots or spaces,
// no device names.
bool PlatformUsesWindowsFileNames();

// True when a package entry's name bytes, handed to the file system as they are, name the file the
// package means: the written name is then exactly the name that was checked. markedUtf8 is the zip's flag
// for names in UTF-8.
bool NameIsWrittenAsStored(const std::string &name, bool markedUtf8);
