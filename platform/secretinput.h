#pragma once
// Reads a secret from the user without showing it.

#include <string>

// On a terminal: writes the prompt to standard error and reads one line with echo off (the terminal is
// restored, also when the process is interrupted meanwhile). Otherwise reads one line from standard
// input. The line end is not kept. False when nothing could be read.
// The line comes back in UTF-8: a Windows console is read as UTF-16, whatever its code page, and a line
// from a pipe there is taken in the ANSI code page; elsewhere the bytes as typed (a UTF-8 locale).
bool ReadSecretLine(const char *prompt, std::string *line);
