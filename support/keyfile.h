#pragma once
// The settings file: key=value lines, kept in memory as one text. Keys are matched byte for byte wherever
// key + '=' first occurs in the text. A line ends in LF, with or without a CR before it; each line keeps
// its own ending when its value is replaced, and a new line takes the ending the file already uses
// (CR LF in a file that has no line end yet).

#include <cstddef>
#include <string>

constexpr size_t kSettingsTextCapacity = 10240;
constexpr size_t kSettingsValueCapacity = 1024;
// Larger files are not settings files of ours: they are neither loaded nor written over.
constexpr size_t kSettingsFileLimit = 64u * 1024 * 1024;

// Reads at most capacity - 1 bytes of the file into text.
// 0 when the file was read, -1 when it cannot be opened (text left as it was).
int LoadKeyFile(const char *path, char *text, size_t capacity = kSettingsTextCapacity);
// Reads the whole file, NUL bytes included. 0 read; -1 it cannot be opened or read; -2 it is larger than
// kSettingsFileLimit. On failure text is left as it was.
int LoadKeyFile(const char *path, std::string &text);

// The value of key (blanks at its ends stripped), or the empty string when the key is missing, its line has
// no line end, key + '=' exceeds 1023 bytes or the value does not fit in valueCapacity.
void GetKeyValue(const char *text, const char *key, char *value,
                 size_t valueCapacity = kSettingsValueCapacity);
void GetKeyValue(const std::string &text, const char *key, char *value,
                 size_t valueCapacity = kSettingsValueCapacity);

// Replaces the key's line with key=value and the old line's ending, or puts that line in front when the
// key is missing; blanks at the text's two ends are dropped. result may be text itself (key and value must
// not lie in it). 0 done; -1 refused (the result would not fit in resultCapacity, empty key, key + '=' over
// 1023 bytes): result left unchanged.
int SetKeyValue(char *result, const char *text, const char *key, const char *value,
                size_t resultCapacity = kSettingsTextCapacity);
// The same on a text that grows as needed. 0 done, -1 refused (text unchanged).
int SetKeyValue(std::string &text, const char *key, const char *value);

// Writes exactly the text's bytes (without the zero) to the file, creating or replacing it. A symbolic link
// is followed: its target receives the text. The bytes go to a temporary file beside the target first,
// made new (whatever was at its name is removed, never written through), which replaces it once fully
// written; where the folder allows no new file, an existing file is written
// over in place, and its old content is put back when that write fails.
// 0 written; -1 not written (the file on disk is then left as it was). path holds at most 1023 bytes.
int SaveKeyFile(const char *path, const char *text);
int SaveKeyFile(const char *path, const std::string &text);
