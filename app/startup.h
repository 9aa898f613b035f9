#pragma once
// The program's entry: paths, instance guard, application, window, event loop.
int RunQuillmark(int argc, char *argv[]);
