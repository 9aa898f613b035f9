#include "print/pagerange.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The spans of a valid range, in its order; false for any other text.
bool Spans(const QString &pages, std::vector<std::pair<int, int>> &spans)
{
    static const QRegularExpression span(QStringLiteral("^([1-9][0-9]{0,5})(?:-([1-9][0-9]{0,5}))?$"));
    if (pages.isEmpty())
        return false;
    for (const QString &part : pages.split(QLatin1Char(','))) {
        const QRegularExpressionMatch match = span.match(part);
        if (!match.hasMatch())
            return false;
        const int first = match.captured(1).toInt();
        const int last = match.capturedLength(2) > 0 ? match.captured(2).toInt() : first;
        if (last < first)
            return false;
        spans.emplace_back(first, last);
    }
    return true;
}

} // namespace

bool IsValidPageRange(const QString &pages)
{
    std::vector<std::pair<int, int>> spans;
    return Spans(pages, spans);
}

int PagesSelected(const QString &pages, int pageCount)
{
    std::vector<std::pair<int, int>> spans;
    if (!Spans(pages, spans))
        return -1;
    std::sort(spans.begin(), spans.end());
    int selected = 0;
    int covered = 0; // the last page counted
    for (const auto &span : spans) {
        const int first = std::max(span.first, covered + 1);
        const int last = std::min(span.second, pageCount);
        if (last >= first) {
            selected += last - first + 1;
            covered = last;
        }
    }
    return selected;
}
