#include "eventrecord.h"

namespace casalux {

namespace {

constexpr QChar separator = QLatin1Char('~');
constexpr int separatorsInRecord = 7;

// The dim cell of a row shows the percent sign; the file does not.
QString dimCell(const QString& dim)
{
    return dim == QLatin1String(" ") ? dim : dim + QLatin1Char('%');
}

QString dimFromCell(QString cell)
{
    return cell.remove(QLatin1Char('%'));
}

} // namespace

QStringView EventRecord::timeField(QStringView line)
{
    qsizetype begin = 0;
    for (int n = 0; n < 4; ++n) {
        const qsizetype at = line.indexOf(separator, begin);
        if (at < 0)
            return {};
        begin = at + 1;
    }
    const qsizetype end = line.indexOf(separator, begin);
    return end < 0 ? QStringView() : line.mid(begin, end - begin);
}

std::optional<EventRecord> EventRecord::parse(const QString& line)
{
    if (line.trimmed().isEmpty())
        return std::nullopt;

    // The positions of the first seven separators; the eighth field runs to
    // the end of the line whatever it holds.
    std::array<qsizetype, separatorsInRecord> at{};
    qsizetype from = 0;
    for (qsizetype& position : at) {
        position = line.indexOf(separator, from);
        if (position < 0)
            return std::nullopt;
        from = position + 1;
    }
    const auto field = [&](int n) { // fields 1..7 between separators n-1 and n
        const qsizetype begin = n == 0 ? 0 : at[n - 1] + 1;
        return line.mid(begin, at[n] - begin);
    };

    EventRecord record;
    record.device = field(0);
    // An empty house field would make "the character before the second ~"
    // the first separator itself; such a line was never written.
    if (at[1] - at[0] < 2)
        return std::nullopt;
    record.housecode = line.at(at[1] - 1);

    bool ok = false;
    const int unit = field(2).trimmed().toInt(&ok);
    if (!ok || unit < std::numeric_limits<qint16>::min() || unit > std::numeric_limits<qint16>::max())
        return std::nullopt;
    record.unit = static_cast<qint16>(unit);

    record.dim = field(3);
    record.time = field(4);
    record.action = field(5);
    record.freq = field(6);
    record.days = line.mid(at[6] + 1);
    return record;
}

QString EventRecord::line() const
{
    return firstSevenFields() + separator + days;
}

QString EventRecord::firstSevenFields() const
{
    return QStringList{device, housecode, QString::number(unit), dim, time, action, freq}.join(
        separator);
}

QStringList EventRecord::row() const
{
    return {device, housecode, QString::number(unit), dimCell(dim), time, action, freq, days};
}

QString EventRecord::lineFromRow(const QStringList& row)
{
    if (row.size() < 8)
        return {};
    QStringList fields = row.mid(0, 8);
    fields[3] = dimFromCell(fields[3]);
    return fields.join(separator);
}

std::optional<EventRecord> EventRecord::fromRow(const QStringList& row)
{
    const QString text = lineFromRow(row);
    return text.isEmpty() ? std::nullopt : parse(text);
}

QChar EventRecord::dayLetter(const QDate& date)
{
    const int day = date.dayOfWeek(); // Monday 1 … Sunday 7
    if (day < 1 || day > 7)
        return {};
    return QLatin1Char(dayLetters[static_cast<size_t>(day - 1)]);
}

bool EventRecord::allowsDay(const QDate& date) const
{
    const QChar letter = dayLetter(date);
    return !letter.isNull() && days.contains(letter, Qt::CaseInsensitive);
}

} // namespace casalux
