#pragma once

#include "httpstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace servlane {

// Status lines, response headers and the time texts of the access log.
// Everything here is a pure function of its arguments so the formats can be
// checked without a socket or a clock.
class HttpFormat final {
public:
    // Status line and header lines, each ended by CR LF. The extra header text
    // carries its own line ends; Content-Length is left out for length 0.
    static QByteArray buildHeader(const QString& serverSoftware, const HttpStatus& status,
                                  qint64 contentLength, const QString& contentType,
                                  bool finalBlankLine, const QString& extraHeader,
                                  const QDateTime& now);

    // "Sun, 06 Nov 2026 08:49:37 GMT" from fixed English tables, never the
    // system locale.
    static QString formatHttpDate(const QDateTime& when);
    // "[dd/mm/yyyy:hh:mm:ss +hh00]" in local time, offset in whole hours.
    static QString formatLogTime(const QDateTime& when);

    // One line of the access log, common-log style.
    static QString accessLogLine(const QString& clientAddress, const QDateTime& when,
                                 const QString& requestTarget, const HttpStatus& status,
                                 qint64 responseLength, const QString& referer,
                                 const QString& userAgent);

    static QString fullDayName(int dayOfWeek); // 1 = Monday .. 7 = Sunday, "Monday"
};

} // namespace servlane
