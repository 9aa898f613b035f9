#pragma once
// The settings file: key=value lines ended by CR LF, kept in memory as one zero-terminated text.

#include <cstddef>

constexpr size_t kSettingsTextCapacity = 10240;
constexpr size_t kSettingsValueCapacity = 1024;

// 0 when the file was read, -1 when it cannot be opened (text left as it was).
int LoadKeyFile(const char *path, char *text, size_t capacity = kSettingsTextCapacity);
void GetKeyValue(const char *text, const char *key, char *value, size_t valueCapacity = kSettingsValueCapacity);
// result may be text itself. 0 done; -1 refused (the result would not fit): result left unchanged.
int SetKeyValue(char *result, const char *text, const char *key, const char *value,
                size_t resultCapacity = kSettingsTextCapacity);
// 0 written; -1 not written (the file on disk is then left as it was).
int SaveKeyFile(const char *path, const char *text);
