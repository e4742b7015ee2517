#include "commandqueue.h"

namespace casalux {

void CommandQueue::append(int function, const QString& house, const QString& unit)
{
    m_text += QString::number(function) + house + unit + QLatin1Char('~');
    Q_EMIT appended();
}

std::optional<CommandQueue::Entry> CommandQueue::front() const
{
    qsizetype start = 0;
    while (start < m_text.size() && m_text[start] == QLatin1Char('~'))
        ++start; // an empty entry would otherwise block the queue for good
    const qsizetype end = m_text.indexOf(QLatin1Char('~'), start);
    const QString first = end < 0 ? m_text.mid(start) : m_text.mid(start, end - start);
    if (first.isEmpty())
        return std::nullopt;
    return Entry{first[0], first.mid(1, 1), first.mid(2)};
}

void CommandQueue::removeAll(const Entry& entry)
{
    while (m_text.startsWith(QLatin1Char('~')))
        m_text.remove(0, 1);
    m_text.remove(entry.text() + QLatin1Char('~'), Qt::CaseInsensitive);
    // An entry without its "~" (the end of a hand-set text) goes as well.
    if (m_text.compare(entry.text(), Qt::CaseInsensitive) == 0)
        m_text.clear();
}

} // namespace casalux
