#pragma once

#include "serverparts.h"

#include <QByteArray>
#include <QString>

namespace servlane {

class RequestDispatch;

// The requests the server hands to its host, as the host sees them: its
// answer to a trapped request (or the request handed back), and what it may
// ask about a request while its slot holds it. An answer that has no one
// waiting for it is dropped, never sent to another client.
class HostRequests final {
public:
    HostRequests(ServerParts& parts, RequestDispatch& dispatch);

    // The host's answer: `data` as the content, or with `handBack` the
    // request served from the document root as if it had not been trapped.
    void answer(int index, const QString& data, bool handBack, const QString& contentType);
    // The same with the answer's status (three characters, else 200) and
    // extra header lines.
    void answerWithHead(int index, const QString& data, bool handBack, const QString& contentType,
                        const QString& status, const QString& headerLines);

    quint64 requestId(int index) const;
    bool isWaiting(int index, quint64 id) const;

    // The whole query (or body of a POST) for a blank name, else the
    // `item`-th value of `name`, as sent.
    QString queryValue(int index, const QString& name, int item) const;
    int queryCount(int index, const QString& name) const;
    QString variable(int index, const QString& name) const;
    // The whole header text for a blank name, else the value of that field.
    QString headerValue(int index, const QString& name) const;
    // The host's text for the function a page is asking about.
    void setFunctionText(int index, const QString& text);

private:
    ServerParts& m_parts;
    RequestDispatch& m_dispatch;
};

} // namespace servlane
