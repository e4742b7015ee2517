#pragma once

#include "httprequest.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace servlane {

// The server variables of one request, as echo tags and CGIValue read them.
class ServerVariables final {
public:
    struct Context {
        const HttpRequest* request = nullptr;
        QString localPath; // local path of the requested page
        QString clientAddress;
        QString remoteHost; // looked up by the caller; "Unknown" when not found
        QString serverName;
        QString serverPort;
        QString serverSoftware;
        QString serverIp;
        QDateTime now; // local time
    };

    // Empty for a name that is not a server variable. Names ignore case.
    static QString value(const QString& name, const Context& context);
    // Every variable name in its fixed order.
    static const QStringList& names();
};

} // namespace servlane
