#include "querystringparser.h"

namespace servlane {

void QueryStringParser::setText(const QString& text)
{
    m_text = text;
    m_cachedCount = -1;
    m_cachedName.clear();
}

QString QueryStringParser::value(const QString& name, int item, const QString& delimiter) const
{
    if (m_text.trimmed().isEmpty() || item < 1)
        return {};
    const QString key = name + QLatin1Char('=');
    qsizetype pos = -1;
    for (int n = 0; n < item; ++n) {
        pos = m_text.indexOf(key, pos + 1, Qt::CaseInsensitive);
        if (pos < 0)
            return {};
    }
    const qsizetype start = pos + key.size();
    const qsizetype end =
        delimiter.isEmpty() ? -1 : m_text.indexOf(delimiter, start, Qt::CaseInsensitive);
    return end < 0 ? m_text.mid(start) : m_text.mid(start, end - start);
}

int QueryStringParser::count(const QString& name) const
{
    if (m_cachedCount >= 0 && m_cachedName == name)
        return m_cachedCount;
    const QString key = name + QLatin1Char('=');
    int n = 0;
    for (qsizetype pos = m_text.indexOf(key, 0, Qt::CaseInsensitive); pos >= 0;
         pos = m_text.indexOf(key, pos + 1, Qt::CaseInsensitive))
        ++n;
    m_cachedName = name;
    m_cachedCount = n;
    return n;
}

} // namespace servlane
