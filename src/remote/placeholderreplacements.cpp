#include "placeholderreplacements.h"

#include <algorithm>

namespace casalux {

void PlaceholderReplacements::applyTo(QString& page) const
{
    if (m_items.isEmpty())
        return;
    if (m_oneByOne) {
        for (const auto& [placeholder, text] : m_items)
            replaceAll(page, placeholder, text);
        return;
    }
    qsizetype longest = 0;
    for (const auto& item : m_items)
        longest = std::max(longest, item.first.size());
    QString out;
    out.reserve(page.size() + page.size() / 2);
    const QStringView in(page);
    qsizetype copied = 0;
    qsizetype at = in.indexOf(QLatin1Char('<'));
    while (at >= 0) {
        // A placeholder ends at the first ">" and holds no other "<".
        const qsizetype limit = std::min(in.size(), at + longest);
        qsizetype end = at + 1;
        while (end < limit && in[end] != QLatin1Char('>') && in[end] != QLatin1Char('<'))
            ++end;
        const Item* hit = nullptr;
        if (end < limit && in[end] == QLatin1Char('>')) {
            const QStringView candidate = in.mid(at, end - at + 1);
            for (const auto& item : m_items) {
                if (item.first.size() == candidate.size() &&
                    candidate.compare(item.first, Qt::CaseInsensitive) == 0) {
                    hit = &item;
                    break;
                }
            }
        }
        if (hit) {
            out += in.mid(copied, at - copied);
            out += hit->second;
            copied = end + 1;
            at = in.indexOf(QLatin1Char('<'), copied);
        } else {
            at = in.indexOf(QLatin1Char('<'), at + 1);
        }
    }
    if (copied == 0 && out.isEmpty())
        return; // nothing matched
    out += in.mid(copied);
    page = std::move(out);
}

} // namespace casalux
