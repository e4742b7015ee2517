#include "eventlist.h"

#include "home/textlistfile.h"
#include "platform/busymark.h"

#include <QDir>
#include <QFile>

namespace casalux {

EventList::EventList(const QString& programFolder, BusyMark& filebusy)
    : m_folder(programFolder), m_path(QDir(programFolder).filePath(QLatin1String(fileName))),
      m_filebusy(filebusy)
{
}

QString EventList::tempPath() const
{
    return QDir(m_folder).filePath(QLatin1String(tempName));
}

bool EventList::exists() const
{
    return QFile::exists(m_path);
}

QList<EventRecord> EventList::readRecords(const QString& path)
{
    QList<EventRecord> records;
    const QStringList lines = TextListFile::readLines(path);
    for (const QString& line : lines) {
        if (auto record = EventRecord::parse(line))
            records.append(std::move(*record));
    }
    return records;
}

QStringList EventList::macroLines() const
{
    QStringList lines = TextListFile::readLines(QDir(m_folder).filePath(QLatin1String(macroFileName)));
    for (QString& line : lines)
        line.replace(QLatin1Char('~'), QLatin1Char(' '));
    return lines;
}

QCoro::Task<EventList::Loaded> EventList::loadevents()
{
    Loaded loaded;
    loaded.macroLines = macroLines();
    if (exists()) {
        const auto hold = co_await m_filebusy.take();
        loaded.rows = readRecords();
    }
    co_return loaded;
}

bool EventList::filterRewrite(const QString& searchText, QString* error) const
{
    if (searchText.isEmpty() || !exists())
        return true;
    const QStringList lines = TextListFile::readLines(m_path);
    QStringList keep;
    keep.reserve(lines.size());
    for (const QString& line : lines) {
        if (!line.contains(searchText, Qt::CaseInsensitive))
            keep.append(line);
    }
    if (keep.size() == lines.size())
        return true; // nothing to drop; leave the file as it is
    return TextListFile::replace(m_path, tempPath(), keep, error);
}

bool EventList::removeLine(const QString& line, QString* error) const
{
    if (line.isEmpty() || !exists())
        return true;
    QStringList lines = TextListFile::readLines(m_path);
    if (lines.removeAll(line) == 0)
        return true; // already gone; leave the file as it is
    return TextListFile::replace(m_path, tempPath(), lines, error);
}

bool EventList::replaceRecord(const EventRecord& record, const QString& newLine, bool* found,
                              QString* error) const
{
    QStringList lines = TextListFile::readLines(m_path);
    bool removed = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto parsed = EventRecord::parse(lines.at(i));
        if (parsed && *parsed == record) {
            lines.removeAt(i);
            removed = true;
            break;
        }
    }
    if (found)
        *found = removed;
    if (!newLine.isEmpty())
        lines.append(newLine);
    else if (!removed)
        return true; // nothing to do
    return TextListFile::replace(m_path, tempPath(), lines, error);
}

bool EventList::append(const QString& line, QString* error) const
{
    return TextListFile::append(m_path, line, error);
}

} // namespace casalux
