#pragma once
// Starts a program detached. 0 when the process was created, -1 otherwise.
int LaunchProcess(const char *applicationPath, const char *commandLine, int showMode);
