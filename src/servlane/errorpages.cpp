#include "errorpages.h"

#include <QStringList>

namespace servlane {

namespace {

QString heading(const char* text)
{
    return QStringLiteral("<p><font color=\"#FF0000\" face=\"Arial\"><strong>") +
           QString::fromLatin1(text) + QStringLiteral("</strong></font></p>");
}

QString line(const char* text)
{
    return QStringLiteral("<dt><font face=\"Arial\">") + QString::fromLatin1(text) +
           QStringLiteral("</font></dt>");
}

const QString kBlank = QStringLiteral("<dt>&nbsp;</dt>");

} // namespace

QString ErrorPages::page(const HttpStatus& status)
{
    const QString& c = status.code();
    const QString linkLine = line("Click the following link to go to the page:");
    const QString notImplemented = line("Sorry, your valid request has not been displayed since "
                                        "this server does not support the requested feature.");
    QString head;
    QStringList text;
    // The headings say "HTPP" except on the 404 page; pages and scripts
    // written against this server match those texts.
    if (c == QLatin1String("301")) {
        head = heading("HTPP 301: Moved Permanently");
        text = {line("Sorry, the request page has been permanently moved."), linkLine};
    } else if (c == QLatin1String("302")) {
        head = heading("HTPP 302: Moved Temporarily");
        text = {line("Sorry, the request page has been temporarily moved."), linkLine};
    } else if (c == QLatin1String("304")) {
        head = heading("HTPP 304: Not Modified");
        text = {kBlank};
    } else if (c == QLatin1String("403")) {
        head = heading("HTPP 403: Forbidden");
        text = {line("Sorry, you do not have permission to access the page you requested.")};
    } else if (c == QLatin1String("404")) {
        head = heading("HTTP 404: File Not Found");
        text = {line("Sorry, the requested page does not exist on this server."),
                line("It is possible you typed the address incorrectly or that the page no "
                     "longer exists. ")};
    } else if (c == QLatin1String("500")) {
        head = heading("HTPP 500: Internal Server Error");
        text = {line("Sorry, your valid request has not been displayed due to an internal "
                     "server error.")};
    } else if (c == QLatin1String("502")) {
        head = heading("HTPP 502: Bad Gateway");
        text = {line("Sorry, your valid request has not been displayed due to a problem with the "
                     "gateway.")};
    } else if (c == QLatin1String("503")) {
        head = heading("HTPP 503: Service Unavailable");
        text = {kBlank, notImplemented, kBlank};
    } else {
        head = heading("HTPP 501: Not Implemented");
        text = {notImplemented};
    }
    return QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=iso-8859-1\"><title>HTTP Error ") +
           c + QStringLiteral("</title></head><body bgcolor=\"#FFFFFF\">") + head +
           QStringLiteral("<dl>") + text.join(QString()) + QStringLiteral("</dl></body></html>");
}

} // namespace servlane
