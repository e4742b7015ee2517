#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace servlane {

class DocumentResponder;
class ErrorAnswers;
class FileLookup;
class HostNameCache;
class MimeTable;
class SocketLayer;

// What the parts of a running server share: the helpers the server owns,
// the name and address it answers under, and the statistics its methods
// report. The server fills it; the dispatch, the CGI code and the host's
// per-request methods use it.
struct ServerParts {
    SocketLayer* sockets = nullptr;
    FileLookup* lookup = nullptr;
    MimeTable* mime = nullptr;
    DocumentResponder* responder = nullptr;
    ErrorAnswers* errors = nullptr;
    HostNameCache* hostNames = nullptr;

    QString nameInUse;
    QString addressInUse;

    double bytesReceived = 0;
    double bytesSent = 0;
    double requests = 0;
    double failures = 0;
    // Counts a failure and raises LogEvent with its prefix, code and text.
    std::function<void(const QString& prefix, int code, const QString& description)> reportFailure;
    // Whether anyone listens to the access log (the line costs as much to
    // format as a small file takes to send).
    std::function<bool()> accessLogWanted;
};

} // namespace servlane
