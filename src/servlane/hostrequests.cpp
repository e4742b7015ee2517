#include "hostrequests.h"

#include "filelookup.h"
#include "requestdispatch.h"
#include "socketlayer.h"

#include <QLoggingCategory>
#include <exception>

Q_LOGGING_CATEGORY(lcHostRequests, "casalux.servlane", QtWarningMsg)

namespace servlane {

namespace {

bool awaitsHostAnswer(const ConnectionSlot* s)
{
    return s && (s->state == SlotState::Trapped || s->state == SlotState::Abandoned);
}

} // namespace

HostRequests::HostRequests(ServerParts& parts, RequestDispatch& dispatch)
    : m_parts(parts), m_dispatch(dispatch)
{
}

void HostRequests::answer(int index, const QString& data, bool handBack, const QString& contentType)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!awaitsHostAnswer(s)) {
        qCDebug(lcHostRequests) << "answer for connection" << index << "ignored: nothing awaited";
        return;
    }
    if (s->state == SlotState::Abandoned) {
        // Its client has gone, or had its 503 already: nobody gets this one.
        if (s->answerOverdue)
            qCWarning(lcHostRequests) << "late answer for connection" << index
                                      << "dropped: its client was answered 503 already";
        else
            qCInfo(lcHostRequests)
                << "answer for connection" << index << "dropped: its client left";
        m_parts.sockets->send(index, QByteArray()); // frees the slot
        return;
    }
    try {
        if (handBack) {
            m_parts.sockets->resumeHandling(index);
            m_dispatch.serveFromRoot(index);
            return;
        }
        m_dispatch.sendHostAnswer(index, data.toLatin1(), contentType);
    } catch (const std::exception& e) {
        m_parts.reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                              QString::fromLocal8Bit(e.what()));
    }
}

void HostRequests::answerWithHead(int index, const QString& data, bool handBack,
                                  const QString& contentType, const QString& status,
                                  const QString& headerLines)
{
    ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!awaitsHostAnswer(s))
        return;
    QString header;
    if (!headerLines.trimmed().isEmpty()) {
        header = headerLines;
        if (header.endsWith(QLatin1String("\r\n\r\n")))
            header.chop(2);
        else if (!header.endsWith(QLatin1String("\r\n")))
            header += QStringLiteral("\r\n");
    }
    s->extraHeader = header;
    const HttpStatus given = HttpStatus::fromText(status);
    s->responseStatus = given.code().size() == 3 ? given : HttpStatus();
    answer(index, data, handBack, contentType);
}

quint64 HostRequests::requestId(int index) const
{
    return m_parts.sockets->requestId(index);
}

bool HostRequests::isWaiting(int index, quint64 id) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    return s && s->state == SlotState::Trapped && m_parts.sockets->isWaiting(index, id);
}

QString HostRequests::queryValue(int index, const QString& name, int item) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return {};
    if (name.trimmed().isEmpty())
        return s->request.queryData;
    return s->query.value(name, item);
}

int HostRequests::queryCount(int index, const QString& name) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    return s ? s->query.count(name) : 0;
}

QString HostRequests::variable(int index, const QString& name) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return {};
    const FileLookup::Result found = m_parts.lookup->resolve(s->request.requestPath);
    return m_dispatch.variable(index, name, found.localPath);
}

QString HostRequests::headerValue(int index, const QString& name) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return {};
    const QString& text = s->request.headerText;
    const QString field = name.trimmed();
    if (field.isEmpty())
        return text;
    // The name must start a header line, so a path or another header's
    // value that merely contains it is not taken for it.
    for (qsizetype at = text.indexOf(field, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(field, at + 1, Qt::CaseInsensitive)) {
        if (at == 0 || text[at - 1] != QLatin1Char('\n'))
            continue;
        const qsizetype colon = at + field.size();
        if (colon >= text.size() || text[colon] != QLatin1Char(':'))
            continue;
        qsizetype end = text.indexOf(QLatin1Char('\n'), colon);
        if (end < 0)
            end = text.size();
        return text.mid(colon + 1, end - colon - 1).trimmed();
    }
    return {};
}

void HostRequests::setFunctionText(int index, const QString& text)
{
    if (ConnectionSlot* s = m_parts.sockets->slot(index))
        s->functionReturn = text;
}

} // namespace servlane
