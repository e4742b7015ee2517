#pragma once

#include "pageprocessor.h"
#include "response.h"
#include "serverparts.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class Servlane;

namespace servlane {

class CgiRequests;

// Decides what answers a complete request and sends it: the host (through
// FileRequest) or the document root (a file, a listing, a CGI program), the
// login check on what is served, and one access-log line per answer from
// the document root. It reads the server's settings through its public
// properties.
class RequestDispatch final : public QObject {
    Q_OBJECT

public:
    RequestDispatch(Servlane& server, ServerParts& parts);
    ~RequestDispatch() override;

    // A complete request arrived on slot `index`.
    void onRequest(int index);
    // The socket layer refused a request before it was understood.
    void onRejected(int index, int status, bool refusal);
    // The host did not answer a trapped request in time.
    void onTrapExpired(int index);

    // The answer from the document root, or in error mode the error answer
    // for `statusCode`.
    void sendWebPage(int index, bool errorMode, const QString& statusCode);
    // The host's own answer for a trapped request.
    void sendHostAnswer(int index, const QByteArray& data, const QString& contentType);

    // The value of a server variable for the request on `index`.
    QString variable(int index, const QString& name, const QString& localPath) const;
    // Runs `action` if `index` still holds connection `generation` and a
    // request being answered; frees a slot whose client has left.
    void whileStillWanted(int index, quint64 generation, const std::function<void()>& action);
    PageProcessor::Context pageContext(int index, const QString& localPath);
    Response fileResponse(int index, const QString& localPath, QString& statusCode);
    void finishDocument(int index, const QString& statusCode, const Response& response);

    // Stops every program still running for a request.
    void stopPrograms();

private:
    void handleRequest(int index);
    void mapRequestPath(int index);
    bool isTrapped(const QString& fileName) const;
    void sendDocument(int index);
    void sendRefusal(int index, int status, const QString& why);
    Response errorAnswer(int index, const QString& statusCode);
    void applySettings();

    Servlane& m_server;
    ServerParts& m;
    std::unique_ptr<CgiRequests> m_cgi;
};

} // namespace servlane
