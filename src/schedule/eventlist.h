#pragma once

#include "eventrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

namespace casalux {

class BusyMark;

// evelst.rvf, the schedule of the current profile: reading it for the event
// list, appending, and the rewrites that drop lines. Every rewrite writes the
// lines to keep to temp.txt and renames that over the list in one step, so
// the list is never missing or half written, even for a moment.
//
// The file work itself does not take `filebusy`; callers hold it across
// their whole operation, as they must for anything that waits in between.
class EventList final {
public:
    static constexpr const char* fileName = "evelst.rvf";
    static constexpr const char* tempName = "temp.txt";
    static constexpr const char* macroFileName = "macs.hlk";

    EventList(const QString& programFolder, BusyMark& filebusy);

    QString folder() const { return m_folder; }
    QString path() const { return m_path; }
    QString tempPath() const;
    bool exists() const;
    BusyMark& filebusy() const { return m_filebusy; }

    // What the event list view and the macro list view show.
    struct Loaded {
        QList<EventRecord> rows; // file order; sorting is the view's business
        QStringList macroLines;  // each macro line with its "~" shown as blanks
    };
    // Waits for and takes `filebusy` while the event file is read.
    QCoro::Task<Loaded> loadevents();

    // The records of a list file in file order; blank and malformed lines
    // are skipped. A missing file is an empty schedule.
    static QList<EventRecord> readRecords(const QString& path);
    QList<EventRecord> readRecords() const { return readRecords(m_path); }
    QStringList macroLines() const;

    // Drops every line that contains `searchText`, letter case ignored. An
    // empty search text
    // drops nothing (it is contained in every line). A missing list stays
    // missing. False when the list could not be rewritten; it is then as it
    // was.
    bool filterRewrite(const QString& searchText, QString* error = nullptr) const;

    // Drops every line that is exactly `line`, character for character: a
    // due once-event leaves the text it was read from, so a line written by
    // hand ("07" for unit 7) is still found, and no other line is touched.
    // False when the list could not be rewritten; it is then as it was.
    bool removeLine(const QString& line, QString* error = nullptr) const;

    // Replaces the first line holding exactly `record` (fields compared as
    // read, so "03" and "3" are one unit) by nothing, and appends
    // `newLine` when it is not empty, in one rewrite. Other lines, even ones
    // that contain the record's text, stay. `found` tells whether a line was
    // there to remove. False when the list could not be rewritten.
    bool replaceRecord(const EventRecord& record, const QString& newLine, bool* found = nullptr,
                       QString* error = nullptr) const;

    // Appends one record line, creating the file if absent.
    bool append(const QString& line, QString* error = nullptr) const;

private:
    QString m_folder;
    QString m_path;
    BusyMark& m_filebusy;
};

} // namespace casalux
