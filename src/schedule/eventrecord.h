#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <array>
#include <limits>
#include <optional>

namespace casalux {

// One timed event, one line of evelst.rvf:
//
//     Lounge Lamp~A~3~60~07:30~on~daily~mtwuf
//
// device, house code, unit, dim (a bare percent, or one blank for "off"),
// time ("hh:mm", "sRise:+1", "sSet:-2" …), action, freq and the day letters.
struct EventRecord {
    QString device;
    QString housecode; // one character
    qint16 unit = 0;
    QString dim;
    QString time;
    QString action;
    QString freq;
    QString days;

    // Fields are taken the way every reader of the file has always taken
    // them: the device is everything before the first "~", the house code the
    // one character just before the second "~", the unit the third field as a
    // 16-bit number, the days everything after the seventh "~" (so a stray
    // "~" there stays part of the days). Blank lines, lines with fewer than
    // seven separators, an empty house code field and a unit that is not a
    // whole number give nothing: the line is skipped, never fatal.
    static std::optional<EventRecord> parse(const QString& line);

    // The time field (the fifth) of a file line as it stands, without
    // copying; empty when the line has too few separators to be an event.
    static QStringView timeField(QStringView line);

    // The file line; the unit written as a plain number.
    QString line() const;

    // The first seven fields as this program writes them (the unit without
    // a leading zero), which is not always how a line in the file reads.
    QString firstSevenFields() const;

    // The event list row: the device, then house code, unit, dim shown with
    // "%" (a single blank stays a single blank), time, action, freq, days.
    QStringList row() const;
    // The line a row came from: the row text and its seven cells joined by
    // "~", with the "%" taken off the dim cell. Empty when the row is short.
    static QString lineFromRow(const QStringList& row);
    static std::optional<EventRecord> fromRow(const QStringList& row);

    // Whether `days` holds the letter of `date`'s weekday, in either case.
    bool allowsDay(const QDate& date) const;

    bool operator==(const EventRecord&) const = default;

    // Monday "m" … Sunday "r", as the editor's day boxes 0 to 6 run.
    static constexpr std::array<char, 7> dayLetters{'m', 't', 'w', 'u', 'f', 's', 'r'};
    static QChar dayLetter(const QDate& date);
};

} // namespace casalux
