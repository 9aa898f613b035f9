#include "support/keyfile.h"

#include "platform/fileinfo.h"
#include "platform/safefiles.h"
#include "support/direxists.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kPatternCapacity = 1024;
constexpr size_t kPathCapacity = 1024;
const char kCrLf[] = "\r\n";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The text without the spaces and tabs at its two ends, as [begin, end).
void BlankTrimmedBounds(const char *text, size_t length, const char **begin, const char **end)
{
    const char *b = text;
    const char *e = text + length;
    while (b < e && IsBlank(*b))
        ++b;
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

// The end of the line that starts at or before from: the LF, or the CR of a CR LF. Null without one.
// *endLength tells how many bytes end it.
const char *FindLineEnd(const char *from, const char *end, size_t *endLength)
{
    const char *lf = static_cast<const char *>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
    if (lf == nullptr)
        return nullptr;
    if (lf > from && lf[-1] == '\r') {
        *endLength = 2;
        return lf - 1;
    }
    *endLength = 1;
    return lf;
}

// The ending the text already uses (that of its first line), CR LF for a text without line ends.
const char *TextLineEnd(const char *begin, const char *end)
{
    size_t length = 0;
    if (FindLineEnd(begin, end, &length) != nullptr && length == 1)
        return "\n";
    return kCrLf;
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

void GetKeyValueIn(const char *text, size_t textLength, const char *key, char *value, size_t valueCapacity)
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
    BlankTrimmedBounds(text, textLength, &begin, &end);
    const char *at = FindIn(begin, end, pattern, patternLength);
    if (at == nullptr)
        return;
    const char *valueBegin = at + patternLength;
    size_t endLength = 0;
    const char *valueEnd = FindLineEnd(valueBegin, end, &endLength);
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

// Where the new line goes in the text [textBegin, textEnd): the result is the blank-trimmed text's head,
// key=value with lineEnd, then its tail.
struct KeyLinePlan
{
    const char *headBegin;
    size_t headLength;
    const char *lineEnd;
    size_t lineEndLength;
    const char *tailBegin;
    size_t tailLength;
};

bool PlanKeyLine(const char *text, size_t textLength, const char *pattern, size_t patternLength,
                 KeyLinePlan *plan)
{
    const char *begin = nullptr;
    const char *end = nullptr;
    BlankTrimmedBounds(text, textLength, &begin, &end);

    // The head is the text before the key's first occurrence (the whole text goes behind the new line when
    // the key is missing), the tail what follows the ending of the old line.
    const char *at = FindIn(begin, end, pattern, patternLength);
    const char *headEnd = at != nullptr ? at : begin;
    const char *tailBegin = begin;
    const char *lineEnd = TextLineEnd(begin, end);
    if (at != nullptr) {
        size_t endLength = 0;
        const char *oldEnd = FindLineEnd(at + patternLength, end, &endLength);
        if (oldEnd != nullptr) {
            tailBegin = oldEnd + endLength;
            lineEnd = endLength == 1 ? "\n" : kCrLf;
        } else {
            tailBegin = end;
        }
    }
    plan->headBegin = begin;
    plan->headLength = static_cast<size_t>(headEnd - begin);
    plan->lineEnd = lineEnd;
    plan->lineEndLength = std::strlen(lineEnd);
    plan->tailBegin = tailBegin;
    plan->tailLength = static_cast<size_t>(end - tailBegin);
    return true;
}

// Overwrites the existing file in place, for a folder that allows no new file. The old content is read
// first and written back should the new text not go down whole (full disk, size limit), so a failed write
// still leaves the previous settings. Writing never shrinks the file before the new text is down, so the
// old bytes always fit back into space the file already had.
bool WriteInPlace(const char *path, const char *text, size_t length)
{
    std::FILE *f = std::fopen(path, "r+b");
    if (f == nullptr)
        return false;
    std::string old;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        old.append(block, n);
        if (old.size() > kSettingsFileLimit) {
            std::fclose(f);
            return false;
        }
    }
    bool ok = !std::ferror(f);
    if (ok) {
        std::rewind(f);
        ok = std::fwrite(text, 1, length, f) == length;
        ok = std::fflush(f) == 0 && ok;
        ok = ok && TruncateOpenFile(f, length) && FlushFileToDisk(f);
        if (!ok) {
            std::clearerr(f);
            std::rewind(f);
            std::fwrite(old.data(), 1, old.size(), f);
            std::fflush(f);
            TruncateOpenFile(f, old.size());
            FlushFileToDisk(f);
        }
    }
    std::fclose(f);
    return ok;
}

int SaveKeyFileBytes(const char *path, const char *text, size_t length)
{
    if (path == nullptr || path[0] == '\0' || text == nullptr)
        return -1;
    if (std::strlen(path) >= kPathCapacity)
        return -1;
    // A settings file that is a symbolic link stays one: its target receives the text.
    char target[kPathCapacity];
    if (!ResolveFileLinks(path, target, sizeof target))
        return -1;
    char temporary[kPathCapacity + 32];
    const int n = std::snprintf(temporary, sizeof temporary, "%s.%lu.tmp", target, CurrentProcessNumber());
    if (n < 0 || static_cast<size_t>(n) >= sizeof temporary)
        return -1;

    // The text goes to a new file beside the target first, which then takes the target's place in one
    // step: a write that fails part-way (full disk, quota, lost share) leaves the previous settings intact.
    // The temporary name is made new: a link or file someone planted there is removed, never written
    // through, and never becomes the settings file.
    std::FILE *f = CreateExclusiveFile(temporary, FileAccess::AsUsual);
    if (f == nullptr)
        return PathExists(target) && WriteInPlace(target, text, length) ? 0 : -1;
    bool written = std::fwrite(text, 1, length, f) == length;
    written = FlushFileToDisk(f) && written;
    written = std::fclose(f) == 0 && written;
    if (!written) {
        std::remove(temporary);
        return -1;
    }
    if (!ReplaceFileWith(temporary, target)) {
        std::remove(temporary);
        // A folder may allow new files but not replacing one (a sticky folder of another owner).
        return PathExists(target) && WriteInPlace(target, text, length) ? 0 : -1;
    }
    return 0;
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

int LoadKeyFile(const char *path, std::string &text)
{
    if (path == nullptr)
        return -1;
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return -1;
    std::string bytes;
    char block[65536];
    size_t n;
    int result = 0;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        if (bytes.size() + n > kSettingsFileLimit) {
            result = -2;
            break;
        }
        bytes.append(block, n);
    }
    if (result == 0 && std::ferror(f))
        result = -1;
    std::fclose(f);
    if (result == 0)
        text.swap(bytes);
    return result;
}

// The working copy of the text is never materialised: the blank-trimmed text is the range [begin, end)
// of the caller's buffer, so no size limit applies beyond the caller's own buffers.
void GetKeyValue(const char *text, const char *key, char *value, size_t valueCapacity)
{
    GetKeyValueIn(text, text != nullptr ? std::strlen(text) : 0, key, value, valueCapacity);
}

void GetKeyValue(const std::string &text, const char *key, char *value, size_t valueCapacity)
{
    GetKeyValueIn(text.data(), text.size(), key, value, valueCapacity);
}

int SetKeyValue(char *result, const char *text, const char *key, const char *value, size_t resultCapacity)
{
    char pattern[kPatternCapacity];
    size_t patternLength = 0;
    if (result == nullptr || text == nullptr || value == nullptr ||
        !BuildPattern(key, pattern, &patternLength))
        return -1;
    KeyLinePlan plan;
    PlanKeyLine(text, std::strlen(text), pattern, patternLength, &plan);
    const size_t valueLength = std::strlen(value);
    const size_t lineLength = patternLength + valueLength + plan.lineEndLength;
    const size_t total = plan.headLength + lineLength + plan.tailLength;
    if (total >= resultCapacity)
        return -1;

    // result may be text itself: the head moves to the front first (towards lower addresses, so the tail
    // further on stays intact), then the tail to its place, and the new line goes into the gap last.
    std::memmove(result, plan.headBegin, plan.headLength);
    std::memmove(result + plan.headLength + lineLength, plan.tailBegin, plan.tailLength);
    char *line = result + plan.headLength;
    std::memcpy(line, pattern, patternLength);
    std::memcpy(line + patternLength, value, valueLength);
    std::memcpy(line + patternLength + valueLength, plan.lineEnd, plan.lineEndLength);
    result[total] = '\0';
    return 0;
}

int SetKeyValue(std::string &text, const char *key, const char *value)
{
    char pattern[kPatternCapacity];
    size_t patternLength = 0;
    if (value == nullptr || !BuildPattern(key, pattern, &patternLength))
        return -1;
    KeyLinePlan plan;
    PlanKeyLine(text.data(), text.size(), pattern, patternLength, &plan);
    std::string result;
    result.reserve(plan.headLength + patternLength + std::strlen(value) + 2 + plan.tailLength);
    result.append(plan.headBegin, plan.headLength);
    result.append(pattern, patternLength);
    result.append(value);
    result.append(plan.lineEnd, plan.lineEndLength);
    result.append(plan.tailBegin, plan.tailLength);
    text.swap(result);
    return 0;
}

int SaveKeyFile(const char *path, const char *text)
{
    return SaveKeyFileBytes(path, text, text != nullptr ? std::strlen(text) : 0);
}

int SaveKeyFile(const char *path, const std::string &text)
{
    return SaveKeyFileBytes(path, text.data(), text.size());
}
