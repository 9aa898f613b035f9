#pragma once
// Reads a secret from the user without showing it.

#include <string>

// On a terminal: writes the prompt to standard error and reads one line with echo off (the terminal is
// restored, also when the process is interrupted meanwhile). Otherwise reads one line from standard
// input. The line end is not kept. False when nothing could be read.
bool ReadSecretLine(const char *prompt, std::string *line);
