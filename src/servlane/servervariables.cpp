#include "servervariables.h"

#include "httpformat.h"

namespace servlane {

const QStringList& ServerVariables::names()
{
    static const QStringList list{
        QStringLiteral("AUTH_TYPE"),
        QStringLiteral("CONTENT_LENGTH"),
        QStringLiteral("CONTENT_TYPE"),
        QStringLiteral("GATEWAY_INTERFACE"),
        QStringLiteral("HTTP_ACCEPT"),
        QStringLiteral("HTTP_REFERER"),
        QStringLiteral("HTTP_USER_AGENT"),
        QStringLiteral("PATH_INFO"),
        QStringLiteral("PATH_TRANSLATED"),
        QStringLiteral("QUERY_STRING"),
        QStringLiteral("REMOTE_ADDR"),
        QStringLiteral("REMOTE_HOST"),
        QStringLiteral("REMOTE_USER"),
        QStringLiteral("REQUEST_METHOD"),
        QStringLiteral("SCRIPT_NAME"),
        QStringLiteral("SERVER_NAME"),
        QStringLiteral("SERVER_PORT"),
        QStringLiteral("SERVER_PROTOCOL"),
        QStringLiteral("SERVER_SOFTWARE"),
        QStringLiteral("SERVER_IP"),
        QStringLiteral("TIME"),
        QStringLiteral("DATE"),
        QStringLiteral("DATE_LOCAL"),
        QStringLiteral("DATE_GMT"),
        QStringLiteral("COUNTER"),
        QStringLiteral("DAY_OF_WEEK"),
        QStringLiteral("DOCUMENT_NAME"),
        QStringLiteral("DOCUMENT_URI"),
    };
    return list;
}

QString ServerVariables::value(const QString& name, const Context& c)
{
    const QString n = name.trimmed().toUpper();
    static const HttpRequest empty;
    const HttpRequest& r = c.request ? *c.request : empty;
    const QDateTime now = c.now.isValid() ? c.now : QDateTime::currentDateTime();
    if (n == QLatin1String("AUTH_TYPE"))
        return QStringLiteral("Basic");
    if (n == QLatin1String("CONTENT_LENGTH"))
        return r.contentLength;
    if (n == QLatin1String("CONTENT_TYPE"))
        return r.contentType;
    if (n == QLatin1String("GATEWAY_INTERFACE"))
        return QStringLiteral("CGI/1.1");
    if (n == QLatin1String("HTTP_ACCEPT"))
        return r.accept;
    if (n == QLatin1String("HTTP_REFERER"))
        return r.referer;
    if (n == QLatin1String("HTTP_USER_AGENT"))
        return r.userAgent;
    if (n == QLatin1String("PATH_INFO") || n == QLatin1String("PATH_TRANSLATED"))
        return c.localPath;
    if (n == QLatin1String("QUERY_STRING"))
        return r.queryData;
    if (n == QLatin1String("REMOTE_ADDR"))
        return c.clientAddress;
    if (n == QLatin1String("REMOTE_HOST"))
        return c.remoteHost.isEmpty() ? QStringLiteral("Unknown") : c.remoteHost;
    if (n == QLatin1String("REMOTE_USER"))
        return r.userName;
    if (n == QLatin1String("REQUEST_METHOD"))
        return r.method;
    if (n == QLatin1String("SCRIPT_NAME") || n == QLatin1String("DOCUMENT_NAME"))
        return r.fileName;
    if (n == QLatin1String("SERVER_NAME"))
        return c.serverName;
    if (n == QLatin1String("SERVER_PORT"))
        return c.serverPort;
    if (n == QLatin1String("SERVER_PROTOCOL"))
        return QStringLiteral("HTTP/1.0");
    if (n == QLatin1String("SERVER_SOFTWARE"))
        return c.serverSoftware;
    if (n == QLatin1String("SERVER_IP"))
        return c.serverIp;
    if (n == QLatin1String("TIME")) {
        const QTime t = now.time();
        const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
        return QStringLiteral("%1:%2:%3%4")
            .arg(h12, 2, 10, QLatin1Char('0'))
            .arg(t.minute(), 2, 10, QLatin1Char('0'))
            .arg(t.second(), 2, 10, QLatin1Char('0'))
            .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
    }
    if (n == QLatin1String("DATE") || n == QLatin1String("DATE_LOCAL"))
        return now.toString(QStringLiteral("MM/dd/yyyy"));
    if (n == QLatin1String("DATE_GMT")) {
        const QString http = HttpFormat::formatHttpDate(now);
        return http; // "ddd, dd mmm yyyy hh:nn:ss GMT"
    }
    if (n == QLatin1String("DAY_OF_WEEK"))
        return HttpFormat::fullDayName(now.date().dayOfWeek());
    if (n == QLatin1String("DOCUMENT_URI") || n == QLatin1String("DOCUMENT_URL"))
        return r.requestPath;
    return {}; // COUNTER and unknown names
}

} // namespace servlane
