#pragma once
// The settings file: key=value lines ended by CR LF, kept in memory as one zero-terminated text.
// Keys are matched byte for byte wherever key + '=' first occurs in the text.

#include <cstddef>

constexpr size_t kSettingsTextCapacity = 10240;
constexpr size_t kSettingsValueCapacity = 1024;

// Reads at most capacity - 1 bytes of the file into text.
// 0 when the file was read, -1 when it cannot be opened (text left as it was).
int LoadKeyFile(const char *path, char *text, size_t capacity = kSettingsTextCapacity);
// The value of key (blanks at its ends stripped), or the empty string when the key is missing, its line has
// no CR LF, key + '=' exceeds 1023 bytes or the value does not fit in valueCapacity.
void GetKeyValue(const char *text, const char *key, char *value,
                 size_t valueCapacity = kSettingsValueCapacity);
// Replaces the key's line with key=value CR LF, or puts that line in front when the key is missing; blanks
// at the text's two ends are dropped. result may be text itself (key and value must not lie in it).
// 0 done; -1 refused (the result would not fit in resultCapacity, empty key, key + '=' over 1023 bytes):
// result left unchanged.
int SetKeyValue(char *result, const char *text, const char *key, const char *value,
                size_t resultCapacity = kSettingsTextCapacity);
// Writes exactly the text's bytes (without the zero) to the file, creating or replacing it. The bytes go
// to a temporary file beside it first, which replaces the file only once fully written.
// 0 written; -1 not written (the file on disk is then left as it was). path holds at most 1023 bytes.
int SaveKeyFile(const char *path, const char *text);
