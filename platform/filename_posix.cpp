#include "platform/filename.h"

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at p (at most end - p bytes), 0 when it is not one. Overlong forms,
// encoded surrogates and code points above U+10FFFF are not valid.
int ValidSequence(const unsigned char *p, const unsigned char *end, char32_t &codePoint)
{
    const unsigned char c = p[0];
    const ptrdiff_t left = end - p;
    if (c < 0x80) {
        codePoint = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF && left >= 2 && IsContinuation(p[1])) {
        codePoint = (char32_t(c & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF && left >= 3 && IsContinuation(p[1]) && IsContinuation(p[2])) {
        const char32_t cp = (char32_t(c & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        codePoint = cp;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4 && left >= 4 && IsContinuation(p[1]) && IsContinuation(p[2]) &&
        IsContinuation(p[3])) {
        const char32_t cp = (char32_t(c & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                            (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        codePoint = cp;
        return 4;
    }
    return 0;
}

void AppendUtf8(QByteArray &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

QString DecodeFileName(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *end = p + bytes.size();
    while (p < end) {
        char32_t cp = 0;
        const int length = ValidSequence(p, end, cp);
        if (length == 0) {
            name += QChar(char16_t(EscapeBase + *p));
            ++p;
            continue;
        }
        if (cp >= 0x10000) {
            name += QChar(QChar::highSurrogate(cp));
            name += QChar(QChar::lowSurrogate(cp));
        } else {
            name += QChar(char16_t(cp));
        }
        p += length;
    }
    return name;
}

QByteArray EncodeFileName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    const int n = name.size();
    for (int i = 0; i < n; ++i) {
        const char16_t u = name.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            AppendUtf8(out, QChar::surrogateToUcs4(u, name.at(i + 1).unicode()));
            ++i;
        } else if (u >= EscapeBase + 0x80 && u <= EscapeBase + 0xFF) {
            out += char(u - EscapeBase);
        } else if (QChar::isSurrogate(u)) {
            AppendUtf8(out, 0xFFFD); // a lone surrogate that stands for no byte has no file-system form
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}
