#include "support/keyfile.h"

#include "platform/fileinfo.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kPatternCapacity = 1024;
constexpr size_t kPathCapacity = 1024;
const char kLineEnd[] = "\r\n";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The text without the spaces and tabs at its two ends, as [begin, end).
void BlankTrimmedBounds(const char *text, const char **begin, const char **end)
{
    const char *b = text;
    while (IsBlank(*b))
        ++b;
    const char *e = b + std::strlen(b);
    while (e > b && IsBlank(e[-1]))
        --e;
    *begin = b;
    *end = e;
}

const char *FindIn(const char *begin, const char *end, const char *needle, size_t needleLength)
{
    if (needleLength == 0 || static_cast<size_t>(end - begin) < needleLength)
        return nullptr;
    for (const char *at = begin; at + needleLength <= end; ++at) {
        if (std::memcmp(at, needle, needleLength) == 0)
            return at;
    }
    return nullptr;
}

// key followed by '=' into pattern; false when the key is empty or the pattern does not fit.
bool BuildPattern(const char *key, char *pattern, size_t *patternLength)
{
    if (key == nullptr || key[0] == '\0')
        return false;
    const size_t keyLength = std::strlen(key);
    if (keyLength + 2 > kPatternCapacity)
        return false;
    std::memcpy(pattern, key, keyLength);
    pattern[keyLength] = '=';
    pattern[keyLength + 1] = '\0';
    *patternLength = keyLength + 1;
    return true;
}

} // namespace

int LoadKeyFile(const char *path, char *text, size_t capacity)
{
    if (path == nullptr || text == nullptr || capacity == 0)
        return -1;
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return -1;
    const size_t n = std::fread(text, 1, capacity - 1, f);
    std::fclose(f);
    text[n] = '\0';
    return 0;
}

// The working copy of the text is never materialised: the blank-trimmed text is the range [begin, end)
// of the caller's buffer, so no size limit applies beyond the caller's own buffers.
void GetKeyValue(const char *text, const char *key, char *value, size_t valueCapacity)
{
    if (value == nullptr || valueCapacity == 0)
        return;
    value[0] = '\0';
    char pattern[kPatternCapacity];
    size_t patternLength = 0;
    if (text == nullptr || !BuildPattern(key, pattern, &patternLength))
        return;

    const char *begin = nullptr;
    const char *end = nullptr;
    BlankTrimmedBounds(text, &begin, &end);
    const char *at = FindIn(begin, end, pattern, patternLength);
    if (at == nullptr)
        return;
    const char *valueBegin = at + patternLength;
    const char *valueEnd = FindIn(valueBegin, end, kLineEnd, 2);
    if (valueEnd == nullptr)
        return;
    while (valueBegin < valueEnd && IsBlank(*valueBegin))
        ++valueBegin;
    while (valueEnd > valueBegin && IsBlank(valueEnd[-1]))
        --valueEnd;
    const size_t length = static_cast<size_t>(valueEnd - valueBegin);
    if (length >= valueCapacity)
        return; // a cut path would name another folder: better none
    std::memcpy(value, valueBegin, length);
    value[length] = '\0';
}

int SetKeyValue(char *result, const char *text, const char *key, const char *value, size_t resultCapacity)
{
    char pattern[kPatternCapacity];
    size_t patternLength = 0;
    if (result == nullptr || text == nullptr || value == nullptr ||
        !BuildPattern(key, pattern, &patternLength))
        return -1;
    const size_t keyLength = patternLength - 1;
    const size_t valueLength = std::strlen(value);
    const size_t lineLength = patternLength + valueLength + 2;

    const char *begin = nullptr;
    const char *end = nullptr;
    BlankTrimmedBounds(text, &begin, &end);

    // The result is head, new line, tail: the head is the text before the key's first occurrence (the
    // whole text goes behind the new line when the key is missing), the tail what follows the CR LF that
    // ends the old line.
    const char *at = FindIn(begin, end, pattern, patternLength);
    const char *headEnd = at != nullptr ? at : begin;
    const char *tailBegin = begin;
    if (at != nullptr) {
        const char *lineEnd = FindIn(at + patternLength, end, kLineEnd, 2);
        tailBegin = lineEnd != nullptr ? lineEnd + 2 : end;
    }
    const size_t headLength = static_cast<size_t>(headEnd - begin);
    const size_t tailLength = static_cast<size_t>(end - tailBegin);
    const size_t total = headLength + lineLength + tailLength;
    if (total >= resultCapacity)
        return -1;

    // result may be text itself: the head moves to the front first (towards lower addresses, so the tail
    // further on stays intact), then the tail to its place, and the new line goes into the gap last.
    std::memmove(result, begin, headLength);
    std::memmove(result + headLength + lineLength, tailBegin, tailLength);
    char *line = result + headLength;
    std::memcpy(line, key, keyLength);
    line[keyLength] = '=';
    std::memcpy(line + patternLength, value, valueLength);
    std::memcpy(line + patternLength + valueLength, kLineEnd, 2);
    result[total] = '\0';
    return 0;
}

// The text goes to a new file beside the target first, which then takes the target's place in one step:
// a write that fails part-way (full disk, quota, lost share) leaves the previous settings intact.
int SaveKeyFile(const char *path, const char *text)
{
    if (path == nullptr || path[0] == '\0' || text == nullptr)
        return -1;
    char temporary[kPathCapacity + 32];
    if (std::strlen(path) >= kPathCapacity)
        return -1;
    const int n = std::snprintf(temporary, sizeof temporary, "%s.%lu.tmp", path, CurrentProcessNumber());
    if (n < 0 || static_cast<size_t>(n) >= sizeof temporary)
        return -1;

    std::FILE *f = std::fopen(temporary, "wb");
    if (f == nullptr)
        return -1;
    const size_t length = std::strlen(text);
    bool written = std::fwrite(text, 1, length, f) == length;
    written = FlushFileToDisk(f) && written;
    written = std::fclose(f) == 0 && written;
    if (!written || !ReplaceFileWith(temporary, path)) {
        std::remove(temporary);
        return -1;
    }
    return 0;
}
