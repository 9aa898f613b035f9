#include "support/textutil.h"

#include <cstring>
#include <new>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Offset of the marker's first occurrence, or its last one counted without overlap; -1 when absent.
int FindMarker(const char *text, const char *marker, int lastOccurrence)
{
    if (lastOccurrence > 0)
        return FindLast(text, marker);
    if (text == nullptr || marker == nullptr || marker[0] == '\0')
        return -1;
    const char *hit = std::strstr(text, marker);
    return hit == nullptr ? -1 : static_cast<int>(hit - text);
}

void SetEmpty(char *out)
{
    if (out != nullptr)
        out[0] = '\0';
}

} // namespace

int FindLast(const char *text, const char *marker)
{
    if (text == nullptr || marker == nullptr || marker[0] == '\0')
        return -1;
    const size_t markerLength = std::strlen(marker);
    int last = -1;
    for (const char *hit = std::strstr(text, marker); hit != nullptr;
         hit = std::strstr(hit + markerLength, marker))
        last = static_cast<int>(hit - text);
    return last;
}

void TakeRange(char *out, const char *text, int start, int end)
{
    const int length = static_cast<int>(std::strlen(text));
    if (start < 0)
        start = 0;
    if (end > length)
        end = length;
    if (start >= end) {
        out[0] = '\0';
        return;
    }
    // out may be text's own buffer.
    std::memmove(out, text + start, static_cast<size_t>(end - start));
    out[end - start] = '\0';
}

int TakeAfter(char *out, const char *text, const char *marker, int includeMarker, int lastOccurrence)
{
    const int at = FindMarker(text, marker, lastOccurrence);
    if (at < 0) {
        SetEmpty(out);
        return -1;
    }
    const int from = includeMarker > 0 ? at : at + static_cast<int>(std::strlen(marker));
    const size_t rest = std::strlen(text + from);
    std::memmove(out, text + from, rest + 1);
    return 1;
}

int TakeBefore(char *out, const char *text, const char *marker, int includeMarker, int lastOccurrence)
{
    const int at = FindMarker(text, marker, lastOccurrence);
    if (at < 0) {
        SetEmpty(out);
        return -1;
    }
    const int end = includeMarker > 0 ? at + static_cast<int>(std::strlen(marker)) : at;
    TakeRange(out, text, 0, end);
    return 1;
}

int TakeBetween(char *out, const char *text, const char *leftMarker, const char *rightMarker, int includeLeft,
                int includeRight, int lastLeft, int lastRight)
{
    if (text == nullptr) {
        SetEmpty(out);
        return -1;
    }
    // The middle step needs its own buffer: out may be text itself.
    char *middle = new (std::nothrow) char[std::strlen(text) + 1];
    if (middle == nullptr) {
        SetEmpty(out);
        return -1;
    }
    int result = TakeAfter(middle, text, leftMarker, includeLeft, lastLeft);
    if (result > 0)
        result = TakeBefore(out, middle, rightMarker, includeRight, lastRight);
    else
        SetEmpty(out);
    delete[] middle;
    return result;
}

void TrimLeadingBlanks(char *text)
{
    size_t skip = 0;
    while (IsBlank(text[skip]))
        ++skip;
    if (skip > 0)
        std::memmove(text, text + skip, std::strlen(text + skip) + 1);
}

void TrimTrailingBlanks(char *text)
{
    size_t length = std::strlen(text);
    while (length > 0 && IsBlank(text[length - 1]))
        --length;
    text[length] = '\0';
}

void TrimBlanks(char *text)
{
    TrimLeadingBlanks(text);
    TrimTrailingBlanks(text);
}

void TrimLeadingChar(char *text, char c)
{
    if (c == '\0')
        return;
    size_t skip = 0;
    while (text[skip] == c)
        ++skip;
    if (skip > 0)
        std::memmove(text, text + skip, std::strlen(text + skip) + 1);
}

void TrimTrailingChar(char *text, char c)
{
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == c)
        --length;
    text[length] = '\0';
}

int ReplaceLast(char *text, const char *pattern, const char *replacement, size_t capacity)
{
    if (text == nullptr || replacement == nullptr)
        return -1;
    const int at = FindLast(text, pattern);
    if (at < 0)
        return -1;
    const size_t patternLength = std::strlen(pattern);
    const size_t replacementLength = std::strlen(replacement);
    const size_t length = std::strlen(text);
    const size_t tailLength = length - static_cast<size_t>(at) - patternLength;
    const size_t newLength = static_cast<size_t>(at) + replacementLength + tailLength;
    if (newLength >= capacity)
        return -1;

    char *tail = new (std::nothrow) char[tailLength + 1];
    if (tail == nullptr)
        return -1;
    std::memcpy(tail, text + at + patternLength, tailLength + 1);
    std::memmove(text + at, replacement, replacementLength);
    std::memcpy(text + at + replacementLength, tail, tailLength + 1);
    delete[] tail;
    return 1;
}

void IntToReversedDigits(int32_t value, char *out)
{
    // Widened so that the most negative value has a magnitude too.
    int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    size_t n = 0;
    do {
        out[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        out[n++] = '-';
    out[n] = '\0';
}

void GetJsonField(char *out, const char *text, const char *fieldName, size_t outCapacity)
{
    SetEmpty(out);
    if (out == nullptr || text == nullptr || fieldName == nullptr || outCapacity == 0)
        return;

    constexpr size_t kPatternCapacity = 1024;
    const size_t nameLength = std::strlen(fieldName);
    if (nameLength + 3 > kPatternCapacity)
        return;
    char pattern[kPatternCapacity];
    pattern[0] = '"';
    std::memcpy(pattern + 1, fieldName, nameLength);
    pattern[nameLength + 1] = '"';
    pattern[nameLength + 2] = '\0';

    // The value is located inside text and only the value itself is copied out, so that out never has
    // to hold the rest of the reply.
    const char *rest = std::strstr(text, pattern);
    if (rest == nullptr)
        return;
    rest += nameLength + 2;
    const char closing = std::strchr(rest, ',') != nullptr ? ',' : '}';
    const char *colon = std::strchr(rest, ':');
    if (colon == nullptr)
        return;
    const char *begin = colon + 1;
    const char *end = std::strchr(begin, closing);
    if (end == nullptr)
        return;

    while (begin < end && IsBlank(*begin))
        ++begin;
    while (end > begin && IsBlank(end[-1]))
        --end;
    while (begin < end && *begin == '"')
        ++begin;
    while (end > begin && end[-1] == '"')
        --end;

    const size_t valueLength = static_cast<size_t>(end - begin);
    if (valueLength >= outCapacity)
        return;
    std::memcpy(out, begin, valueLength);
    out[valueLength] = '\0';
}
