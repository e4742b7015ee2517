#pragma once

#include "filecache.h"
#include "httpstatus.h"
#include "pageprocessor.h"
#include "response.h"
#include "serverparts.h"
#include "serversettings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace servlane {

class CgiRequests;

// Decides what answers a complete request and sends it: the host (through
// fileRequested) or the document root (a file, a listing, a CGI program), the
// login check on what is served, and one access-log line per answer from
// the document root. It works from the settings it was last handed.
class RequestDispatch final : public QObject {
    Q_OBJECT

public:
    explicit RequestDispatch(ServerParts& parts);
    ~RequestDispatch() override;

    // Takes effect from the next request on.
    void setSettings(const ServerSettings& settings);

    // A complete request arrived on slot `index`.
    void onRequest(int index);
    // The socket layer refused a request before it was understood.
    void onRejected(int index, int status, bool refusal);
    // The host did not answer a trapped request in time.
    void onTrapExpired(int index);

    // Answers the request on `index` from the document root.
    void serveFromRoot(int index);
    // The host's own answer for a trapped request.
    void sendHostAnswer(int index, const QByteArray& data, const QString& contentType);

    // The value of a server variable for the request on `index`.
    QString variable(int index, const QString& name, const QString& localPath) const;
    // Runs `action` if `index` still holds connection `generation` and a
    // request being answered; frees a slot whose client has left.
    void whileStillWanted(int index, quint64 generation, const std::function<void()>& action);
    PageProcessor::Context pageContext(int index, const QString& localPath);
    Response fileResponse(int index, const QString& localPath, HttpStatus& status,
                          const FileCache::Look* look = nullptr);
    void finishDocument(int index, const HttpStatus& status, const Response& response);

    // Stops every program still running for a request.
    void stopPrograms();

Q_SIGNALS:
    // A trapped request for the host to answer.
    void fileRequested(int index, const QString& fileName, const QString& credentials);
    // A page asks the host for the text of one of its functions.
    void functionCalled(int index, const QString& name);
    // One line of the access log.
    void accessLogged(const QString& line);

private:
    void handleRequest(int index);
    void mapRequestPath(int index);
    bool isTrapped(const QString& fileName) const;
    void sendDocument(int index);
    // The error page for `status`, sent without an access-log line.
    void sendErrorPage(int index, const HttpStatus& status);
    // Counts the request and runs `answer`; a failure in it is reported and
    // the connection closed, so one bad answer never stops the server.
    void answerGuarded(int index, const std::function<void()>& answer);
    void sendRefusal(int index, const HttpStatus& status, const QString& why);
    Response errorAnswer(int index, const HttpStatus& status);

    ServerParts& m_parts;
    ServerSettings m_settings;
    QStringList m_indexPages;
    std::unique_ptr<CgiRequests> m_cgi;
};

} // namespace servlane
