#pragma once

#include "roomrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace casalux {

// The home as rmlst.rvf describes it: rooms in the order they were created
// and the devices of each, read into memory by loadlists().
class RoomList final {
public:
    explicit RoomList(const QString& programFolder);

    static constexpr const char* fileName = "rmlst.rvf";
    QString path() const { return m_path; }
    QString folder() const { return m_folder; }

    // Reads the file afresh; a missing file is an empty home.
    void loadlists();

    // Every line as read, malformed ones included.
    const QStringList& lines() const { return m_lines; }
    // The lines that parse, in file order.
    const QList<RoomRecord>& records() const { return m_records; }

    // Room names in file order, each once.
    QStringList rooms() const;
    // Devices of a room (room names compared exactly), in file order.
    QList<RoomRecord> devicesIn(const QString& room) const;
    // Devices at an X10 address; the house letter is matched without regard
    // to case, the unit as a number (so A1 never matches A10).
    QList<RoomRecord> devicesAt(const QString& house, int unit) const;

private:
    QString m_folder;
    QString m_path;
    QStringList m_lines;
    QList<RoomRecord> m_records;
};

} // namespace casalux
