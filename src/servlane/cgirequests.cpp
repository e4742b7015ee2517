#include "cgirequests.h"

#include "cgirunner.h"
#include "documentresponder.h"
#include "filelookup.h"
#include "httpformat.h"
#include "openfile.h"
#include "pageprocessor.h"
#include "percentcodec.h"
#include "requestdispatch.h"
#include "response.h"
#include "servervariables.h"
#include "socketlayer.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <memory>

namespace servlane {

namespace {

// `name` in `folder`: exact first, then ignoring case; must stay inside it.
QString programIn(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')) || name == QLatin1String("..") ||
        name == QLatin1String("."))
        return {};
    QString base = folder;
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString canonicalFolder = QFileInfo(base).canonicalFilePath();
    if (canonicalFolder.isEmpty())
        return {};
    const QString entry = FileLookup::findEntry(canonicalFolder, name, FileLookup::isRegularFile);
    if (entry.isEmpty())
        return {};
    const QFileInfo info(canonicalFolder + QLatin1Char('/') + entry);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty() || !canonical.startsWith(canonicalFolder + QLatin1Char('/')) ||
        !FileLookup::isRegularFile(canonical))
        return {};
    return canonical;
}

} // namespace

CgiRequests::CgiRequests(ServerParts& parts, RequestDispatch& dispatch)
    : m_parts(parts), m_dispatch(dispatch)
{
}

CgiRequests::~CgiRequests()
{
    stopPrograms();
}

void CgiRequests::stopPrograms()
{
    for (const QPointer<CgiRunner>& runner : std::as_const(m_runners)) {
        if (runner) {
            runner->abandon();
            runner->deleteLater();
        }
    }
    m_runners.clear();
}

std::optional<QByteArray> CgiRequests::execOutput(const QString& kind, const QString& command) const
{
    const auto it = m_execOutputs.constFind(kind + QLatin1Char('=') + command);
    return it == m_execOutputs.constEnd() ? std::optional<QByteArray>() : *it;
}

QString CgiRequests::programFor(const QString& requestPath, const QString& foundPath) const
{
    if (!foundPath.isEmpty())
        return foundPath;
    // Not under the document root: the program of that name in CGIDirectory.
    const QString name =
        PercentCodec::decodeSpaces(requestPath.mid(requestPath.lastIndexOf(QLatin1Char('/')) + 1));
    return programIn(m_settings.cgiDirectory, name);
}

QStringList CgiRequests::environment(int index, const QString& localPath) const
{
    // The child's own environment: ours without any name of the table, then
    // the table in its order. Nothing else from the request gets in.
    const QStringList& names = ServerVariables::names();
    QStringList env;
    const QStringList inherited = QProcessEnvironment::systemEnvironment().toStringList();
    for (const QString& entry : inherited) {
        const QString name = entry.left(entry.indexOf(QLatin1Char('=')));
        if (!names.contains(name))
            env << entry;
    }
    for (const QString& name : names) {
        QString value = m_dispatch.variable(index, name, localPath);
        value.remove(QLatin1Char('\0'));
        env << name + QLatin1Char('=') + value;
    }
    return env;
}

void CgiRequests::startProgram(int index, const QString& program, const QStringList& arguments,
                               const QString& localPath,
                               std::function<void(const QByteArray&)> done)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    CgiRunner::Job job;
    job.program = program;
    job.arguments = arguments;
    job.environment = environment(index, localPath);
    if (s->request.method == QLatin1String("POST"))
        job.input = s->request.queryData.toLatin1();
    job.timeoutMs = m_settings.timeoutMs;
    job.maxOutput = m_parts.sockets->limits().maxCgiOutput;

    auto* runner = new CgiRunner(&m_dispatch);
    m_runners.removeAll(nullptr);
    m_runners.append(runner);
    const quint64 generation = s->generation;
    QObject::connect(runner, &CgiRunner::finished, &m_dispatch,
                     [this, runner, index, generation, program, done](const QByteArray& output) {
                         runner->deleteLater();
                         if (runner->timedOut())
                             m_parts.reportFailure(
                                 QStringLiteral("Error - SendWebPage. ["), 504,
                                 QStringLiteral("Program stopped after the time-out: ") + program);
                         else if (runner->truncated())
                             m_parts.reportFailure(
                                 QStringLiteral("Error - SendWebPage. ["), 507,
                                 QStringLiteral("Program output cut at the limit: ") + program);
                         m_dispatch.whileStillWanted(index, generation, [&] { done(output); });
                     });
    runner->start(job);
}

void CgiRequests::runCgi(int index, const QString& program)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    const QString name = QFileInfo(program).fileName();
    const QStringList arguments = CgiRunner::argumentsFor(name, s->request.queryData);
    startProgram(index, program, arguments, program, [this, index, program](const QByteArray& out) {
        // The program's own header lines, if any, are part of the body.
        const QByteArray response =
            HttpFormat::buildHeader(m_settings.serverSoftware, HttpStatus(), out.size(),
                                    m_parts.responder->typeOf(program), true, QString(),
                                    QDateTime::currentDateTimeUtc()) +
            out;
        m_dispatch.finishDocument(index, HttpStatus(), response);
    });
}

QList<QPair<QString, QString>> CgiRequests::execTags(int index, const QString& localPath)
{
    if (m_parts.responder->typeOf(localPath).compare(QLatin1String("text/html"),
                                                     Qt::CaseInsensitive))
        return {};
    const std::optional<QByteArray> read =
        OpenFile::readWhole(localPath, PageProcessor::kMaxIncludeSize);
    if (!read)
        return {};
    const QByteArray& page = *read;
    if (!PageProcessor::normaliseTags(page).toLower().contains("<!--#exec") &&
        !page.toLower().contains("<!--#include"))
        return {};
    // A dry pass over the page and its includes, host functions left alone,
    // to learn which programs it runs.
    QList<QPair<QString, QString>> tags;
    PageProcessor::Context context = m_dispatch.pageContext(index, localPath);
    context.ssi = true;
    context.functions = false;
    context.lookup = m_parts.lookup;
    context.mimeType = [this](const QString& path) { return m_parts.responder->typeOf(path); };
    context.exec = [&tags](const QString& kind, const QString& command) {
        const QPair<QString, QString> tag{kind, command};
        if (!tags.contains(tag))
            tags.append(tag);
        return std::optional<QByteArray>();
    };
    PageProcessor::process(page, localPath, context);
    return tags;
}

bool CgiRequests::execProgram(const QString& kind, const QString& command, QString& program,
                              QStringList& arguments) const
{
    QString text = command;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (kind == QLatin1String("execcgi")) {
        // Like a virtual include: relative to the document root, never above;
        // else the program of that name in the CGI folder.
        program = m_parts.lookup->resolveVirtual(text);
        if (program.isEmpty()) {
            const QString relative = FileLookup::virtualPath(text);
            program =
                programIn(m_settings.cgiDirectory, relative.mid(relative.lastIndexOf('/') + 1));
        }
        return !program.isEmpty();
    }
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    const QString first = words.takeFirst();
    arguments = words;
    program = programIn(m_settings.cgiDirectory, first);
    if (program.isEmpty())
        program =
            first.startsWith(QLatin1Char('/')) ? first : QStandardPaths::findExecutable(first);
    return !program.isEmpty();
}

bool CgiRequests::runExecTags(int index, const QString& localPath)
{
    const QList<QPair<QString, QString>> tags = execTags(index, localPath);
    if (tags.isEmpty())
        return false;
    // One program after the other; the page is built when the last is done.
    auto outputs = std::make_shared<QHash<QString, QByteArray>>();
    auto next = std::make_shared<std::function<void()>>();
    // The step holds itself only weakly; a running program's callback keeps
    // it alive, so it goes away with the last program or a departed client.
    std::weak_ptr<std::function<void()>> weak = next;
    *next = [this, index, localPath, tags, outputs, weak]() {
        const std::shared_ptr<std::function<void()>> self = weak.lock();
        if (!self)
            return;
        if (outputs->size() == tags.size()) {
            m_execOutputs = *outputs;
            HttpStatus status;
            const Response response = m_dispatch.fileResponse(index, localPath, status);
            m_execOutputs.clear();
            m_dispatch.finishDocument(index, status, response);
            return;
        }
        const QPair<QString, QString> tag = tags[outputs->size()];
        const QString key = tag.first + QLatin1Char('=') + tag.second;
        QString program;
        QStringList arguments;
        if (!execProgram(tag.first, tag.second, program, arguments)) {
            outputs->insert(
                key, CgiRunner::failureText(QStringLiteral("Create::Process Failed."),
                                            QStringLiteral("Program not found: ") + tag.second, 2));
            (*self)();
            return;
        }
        startProgram(index, program, arguments, localPath,
                     [outputs, self, key](const QByteArray& out) {
                         QByteArray text = out;
                         text.replace("\r\n", "<br>");
                         outputs->insert(key, text);
                         (*self)();
                     });
    };
    (*next)();
    return true;
}

} // namespace servlane
