#include "roomlist.h"

#include "textlistfile.h"

namespace casalux {

RoomList::RoomList(const QString& programFolder)
    : m_folder(programFolder), m_path(programFolder + QLatin1Char('/') + QLatin1String(fileName))
{
}

void RoomList::loadlists()
{
    m_lines = TextListFile::readLines(m_path);
    m_records.clear();
    for (const QString& line : std::as_const(m_lines)) {
        if (auto record = RoomRecord::parse(line))
            m_records.append(*record);
    }
}

QStringList RoomList::rooms() const
{
    QStringList out;
    for (const auto& r : m_records) {
        if (r.isRoom() && !out.contains(r.room))
            out.append(r.room);
    }
    return out;
}

QList<RoomRecord> RoomList::devicesIn(const QString& room) const
{
    QList<RoomRecord> out;
    for (const auto& r : m_records) {
        if (!r.isRoom() && r.room == room)
            out.append(r);
    }
    return out;
}

QList<RoomRecord> RoomList::devicesAt(const QString& house, int unit) const
{
    QList<RoomRecord> out;
    for (const auto& r : m_records) {
        if (!r.isRoom() && r.unit == unit && r.house.compare(house, Qt::CaseInsensitive) == 0)
            out.append(r);
    }
    return out;
}

} // namespace casalux
