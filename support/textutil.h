#pragma once
// Byte-string helpers shared by start-up, the settings file and the updater.
// Texts are zero-terminated byte strings; everything counts and compares bytes, never characters.
// Result codes: 1 found, -1 not found (output then empty). A flag counts as set when it is > 0.

#include <cstddef>
#include <cstdint>

// Offset of the last occurrence, occurrences counted without overlap; -1 when absent or marker is empty.
int FindLast(const char *text, const char *marker);
void TakeRange(char *out, const char *text, int start, int end);
int TakeAfter(char *out, const char *text, const char *marker, int includeMarker, int lastOccurrence);
int TakeBefore(char *out, const char *text, const char *marker, int includeMarker, int lastOccurrence);
int TakeBetween(char *out, const char *text, const char *leftMarker, const char *rightMarker, int includeLeft,
                int includeRight, int lastLeft, int lastRight);
void TrimLeadingBlanks(char *text);
void TrimTrailingBlanks(char *text);
void TrimBlanks(char *text);
void TrimLeadingChar(char *text, char c);
void TrimTrailingChar(char *text, char c);
// 1 replaced; -1 when the pattern does not occur (or is empty) or the grown text would not fit in capacity
// bytes (text's buffer): the text is then unchanged.
int ReplaceLast(char *text, const char *pattern, const char *replacement, size_t capacity = SIZE_MAX);
void IntToReversedDigits(int32_t value, char *out);
// The value of "fieldName": ... up to the next ',' (or '}'), blanks and quotes stripped; empty when the field
// is missing or its value does not fit in outCapacity bytes.
void GetJsonField(char *out, const char *text, const char *fieldName, size_t outCapacity = SIZE_MAX);
