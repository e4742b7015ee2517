#pragma once

#include <QByteArray>
#include <QString>

namespace servlane {

// What one connection asked for, as cut from its head and body.
struct HttpRequest {
    QString requestTarget; // text between method and protocol, trimmed
    QString method;        // "GET" or "POST"
    QString requestPath;   // path without query; index page appended later
    QString queryData;     // query of a GET, body of a POST
    QString fileName;      // text after the last "/" of the request path
    QString contentLength; // announced length (POST only)
    QString contentType;
    QString accept;
    QString referer;
    QString userAgent;
    QString userName;
    QString password;
    QString headerText; // the head, blank line included, as received
};

} // namespace servlane
