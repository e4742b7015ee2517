#include "httpformat.h"

#include <QTimeZone>
#include <limits>
#include <array>
#include <cstdlib>

namespace servlane {

namespace {

constexpr std::array<const char*, 7> kDays{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 7> kFullDays{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                               "Friday", "Saturday", "Sunday"};
constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QString two(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString dayName(int dayOfWeek) // 1 = Monday .. 7 = Sunday
{
    return (dayOfWeek >= 1 && dayOfWeek <= 7) ? QString::fromLatin1(kDays[dayOfWeek - 1])
                                              : QString();
}

QString monthName(int month) // 1 .. 12
{
    return (month >= 1 && month <= 12) ? QString::fromLatin1(kMonths[month - 1]) : QString();
}

} // namespace

QByteArray HttpFormat::buildHeader(const QString& serverSoftware, const HttpStatus& status,
                                   qint64 contentLength, const QString& contentType,
                                   bool finalBlankLine, const QString& extraHeader,
                                   const QDateTime& now)
{
    // Appended piece by piece into one buffer: every response has a header,
    // and temporaries for each line cost more than the rest of it.
    QString h;
    h.reserve(192 + serverSoftware.size() + contentType.size() + extraHeader.size());
    h += QLatin1String("HTTP/1.0 ");
    h += status.code();
    h += QLatin1Char(' ');
    h += status.reason();
    h += QLatin1String("\r\nServer: ");
    h += serverSoftware;
    h += QLatin1String("\r\nDate: ");
    h += formatHttpDate(now);
    h += QLatin1String("\r\n");
    if (!contentType.trimmed().isEmpty()) {
        h += QLatin1String("Content-Type: ");
        h += contentType;
        h += QLatin1String("\r\n");
    }
    // Only blanks are trimmed: the extra header carries its own line ends.
    qsizetype extraFrom = 0;
    qsizetype extraTo = extraHeader.size();
    while (extraFrom < extraTo && extraHeader[extraFrom] == QLatin1Char(' '))
        ++extraFrom;
    while (extraTo > extraFrom && extraHeader[extraTo - 1] == QLatin1Char(' '))
        --extraTo;
    if (extraTo > extraFrom) {
        const QStringView extra = QStringView(extraHeader).sliced(extraFrom, extraTo - extraFrom);
        h += extra;
        if (!extra.endsWith(QLatin1String("\r\n")))
            h += QLatin1String("\r\n"); // never let a header line run into the next
    }
    if (contentLength != 0) {
        h += QLatin1String("Content-Length: ");
        h += QString::number(contentLength);
        h += QLatin1String("\r\n");
    }
    if (finalBlankLine)
        h += QLatin1String("\r\n");
    return h.toLatin1();
}

QString HttpFormat::formatHttpDate(const QDateTime& when)
{
    // Every response carries the date; it changes once a second, so the text
    // is kept until then (one thread per server, hence thread_local).
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cachedText;
    const qint64 second = when.toSecsSinceEpoch();
    if (second == cachedSecond)
        return cachedText;
    const QDateTime utc = when.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    const QString text = dayName(d.dayOfWeek()) + QStringLiteral(", ") + two(d.day()) + QLatin1Char(' ') +
           monthName(d.month()) + QLatin1Char(' ') + QString::number(d.year()) + QLatin1Char(' ') +
           t.toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(" GMT");
    cachedSecond = second;
    cachedText = text;
    return text;
}

QString HttpFormat::formatLogTime(const QDateTime& when)
{
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cachedText;
    const qint64 second = when.toSecsSinceEpoch();
    if (second == cachedSecond)
        return cachedText;
    const QDateTime local = when.toLocalTime();
    const int offsetHours = local.offsetFromUtc() / 3600;
    const QChar sign = offsetHours < 0 ? QLatin1Char('-') : QLatin1Char('+');
    cachedText = QLatin1Char('[') + local.toString(QStringLiteral("dd/MM/yyyy:hh:mm:ss")) +
                 QLatin1Char(' ') + sign + two(std::abs(offsetHours)) + QStringLiteral("00]");
    cachedSecond = second;
    return cachedText;
}

QString HttpFormat::accessLogLine(const QString& clientAddress, const QDateTime& when,
                                  const QString& requestTarget, const HttpStatus& status,
                                  qint64 responseLength, const QString& referer,
                                  const QString& userAgent)
{
    const QChar q = QLatin1Char('"');
    return clientAddress + QStringLiteral(" - - ") + formatLogTime(when) + QLatin1Char(' ') + q +
           requestTarget + q + QLatin1Char(' ') + status.code() + QLatin1Char(' ') +
           QString::number(responseLength) + QLatin1Char(' ') + q + referer + q + QLatin1Char(' ') +
           q + userAgent + q;
}

QString HttpFormat::fullDayName(int dayOfWeek)
{
    return (dayOfWeek >= 1 && dayOfWeek <= 7) ? QString::fromLatin1(kFullDays[dayOfWeek - 1])
                                              : QString();
}

} // namespace servlane
