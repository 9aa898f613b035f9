#pragma once
// Writing a small text file as a whole, where another user or program may have placed something at its
// name.

#include <cstddef>

// Replaces whatever is at path (the file system's 8-bit form) by a new file holding the size bytes of
// text, written in text mode: each line feed becomes the platform's line end. The bytes go to a new file
// of a unique name in the same folder, which is then renamed over path, so a symbolic link found at path
// is replaced, never followed, and a reader never sees half a file. True only when every write, the close
// and the rename succeeded; otherwise nothing is left behind at either name.
bool WriteTextFileReplacing(const char *path, const char *text, size_t size);
