#include "headlessbrowser.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace casalux::test {

HeadlessBrowser::HeadlessBrowser(QObject* parent) : QObject(parent)
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &HeadlessBrowser::received);
    // Its own process group, so that the renderers and helpers go with it.
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setReadChannel(QProcess::StandardError);
}

HeadlessBrowser::~HeadlessBrowser()
{
    shutDown();
}

QString HeadlessBrowser::executable()
{
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

QString HeadlessBrowser::start(int width, int height, int timeoutMs)
{
    const QString program = executable();
    if (program.isEmpty())
        return QStringLiteral("Chromium is not installed (Debian package chromium)");
    if (!m_profile.isValid())
        return QStringLiteral("no temporary folder for the browser profile");

    const QStringList arguments = {
        QStringLiteral("--headless"),
        // The sandbox needs user namespaces or a setuid helper, which
        // containers and root sessions often lack; the pages are our own.
        QStringLiteral("--no-sandbox"),
        QStringLiteral("--disable-gpu"),
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-extensions"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--remote-debugging-port=0"),
        QStringLiteral("--user-data-dir=") + m_profile.path(),
        QStringLiteral("--window-size=%1,%2").arg(width).arg(height),
        QStringLiteral("about:blank"),
    };
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000))
        return QStringLiteral("Chromium did not start: ") + m_process.errorString();
    m_group = m_process.processId();

    // The browser tells where its protocol listens on standard error.
    static const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
    QByteArray errors;
    QString address;
    const QDeadlineTimer deadline(timeoutMs);
    while (address.isEmpty() && !deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning)
            break;
        m_process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 500)));
        errors += m_process.readAllStandardError();
        const auto match = listening.match(QString::fromLocal8Bit(errors));
        if (match.hasMatch())
            address = match.captured(1);
    }
    if (address.isEmpty()) {
        errors += m_process.readAllStandardError();
        const QString tail = QString::fromLocal8Bit(errors.right(600)).trimmed();
        return QStringLiteral("Chromium did not open its DevTools port within %1 s%2")
            .arg(timeoutMs / 1000)
            .arg(tail.isEmpty() ? QString() : QStringLiteral(": ") + tail);
    }
    // Further output is of no interest; it must not fill the pipe.
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_process.readAllStandardError(); });

    m_socket.open(QUrl(address));
    if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                         10000))
        return QStringLiteral("no connection to Chromium's DevTools port: ") + m_socket.errorString();

    const auto target = send(QStringLiteral("Target.createTarget"),
                             {{QStringLiteral("url"), QStringLiteral("about:blank")}}, {}, 10000);
    if (!target)
        return QStringLiteral("Chromium opened no page: ") + m_error;
    const auto attached = send(QStringLiteral("Target.attachToTarget"),
                               {{QStringLiteral("targetId"), target->value(QStringLiteral("targetId"))},
                                {QStringLiteral("flatten"), true}},
                               {}, 10000);
    if (!attached)
        return QStringLiteral("Chromium's page took no commands: ") + m_error;
    m_session = attached->value(QStringLiteral("sessionId")).toString();
    const auto metrics = call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
                              {{QStringLiteral("width"), width},
                               {QStringLiteral("height"), height},
                               {QStringLiteral("deviceScaleFactor"), 1},
                               {QStringLiteral("mobile"), false}});
    if (!metrics || !call(QStringLiteral("Page.enable")))
        return QStringLiteral("Chromium's page took no commands: ") + m_error;
    return {};
}

std::optional<QJsonObject> HeadlessBrowser::call(const QString& method, const QJsonObject& params,
                                                 int timeoutMs)
{
    return send(method, params, m_session, timeoutMs);
}

std::optional<QJsonObject> HeadlessBrowser::send(const QString& method, const QJsonObject& params,
                                                 const QString& session, int timeoutMs)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        m_error = QStringLiteral("not connected");
        return std::nullopt;
    }
    const int id = m_nextId++;
    QJsonObject message{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (!session.isEmpty())
        message.insert(QStringLiteral("sessionId"), session);
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    if (!QTest::qWaitFor([&] { return m_replies.contains(id); }, timeoutMs)) {
        m_error = method + QStringLiteral(": no answer within %1 ms").arg(timeoutMs);
        return std::nullopt;
    }
    const QJsonObject reply = m_replies.take(id);
    if (reply.contains(QStringLiteral("error"))) {
        m_error = method + QStringLiteral(": ") +
                  reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
        return std::nullopt;
    }
    return reply.value(QStringLiteral("result")).toObject();
}

void HeadlessBrowser::received(const QString& message)
{
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    // Only answers are kept; events are not needed by the tests.
    if (object.contains(QStringLiteral("id")))
        m_replies.insert(object.value(QStringLiteral("id")).toInt(), object);
}

std::optional<QJsonValue> HeadlessBrowser::evaluate(const QString& expression)
{
    const auto result = call(QStringLiteral("Runtime.evaluate"),
                             {{QStringLiteral("expression"), expression},
                              {QStringLiteral("returnByValue"), true}});
    if (!result)
        return std::nullopt;
    if (result->contains(QStringLiteral("exceptionDetails"))) {
        m_error = expression + QStringLiteral(": ") +
                  QString::fromUtf8(QJsonDocument(result->value(QStringLiteral("exceptionDetails")).toObject())
                                        .toJson(QJsonDocument::Compact));
        return std::nullopt;
    }
    return result->value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

bool HeadlessBrowser::waitFor(const QString& expression, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        // Between two documents an evaluation may fail: that is "not yet".
        const auto value = evaluate(expression);
        if (value && value->toBool())
            return true;
        QTest::qWait(100);
    }
    m_error = QStringLiteral("still false after %1 ms: ").arg(timeoutMs) + expression;
    return false;
}

bool HeadlessBrowser::navigate(const QString& url)
{
    return call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}).has_value();
}

bool HeadlessBrowser::click(const QString& elementExpression)
{
    const auto centre = evaluate(QStringLiteral("(() => { const e = (%1); if (!e) return null;"
                                                " e.scrollIntoView({block: 'center'});"
                                                " const r = e.getBoundingClientRect();"
                                                " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                     .arg(elementExpression));
    if (!centre || !centre->isArray()) {
        if (centre)
            m_error = QStringLiteral("no element: ") + elementExpression;
        return false;
    }
    const QJsonArray at = centre->toArray();
    QJsonObject mouse{{QStringLiteral("x"), at[0]},
                      {QStringLiteral("y"), at[1]},
                      {QStringLiteral("button"), QStringLiteral("left")},
                      {QStringLiteral("clickCount"), 1}};
    for (const char* type : {"mouseMoved", "mousePressed", "mouseReleased"}) {
        mouse.insert(QStringLiteral("type"), QString::fromLatin1(type));
        if (!call(QStringLiteral("Input.dispatchMouseEvent"), mouse))
            return false;
    }
    return true;
}

QByteArray HeadlessBrowser::screenshot()
{
    const auto shot = call(QStringLiteral("Page.captureScreenshot"),
                           {{QStringLiteral("format"), QStringLiteral("png")}}, 20000);
    if (!shot)
        return {};
    return QByteArray::fromBase64(shot->value(QStringLiteral("data")).toString().toLatin1());
}

void HeadlessBrowser::shutDown()
{
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        send(QStringLiteral("Browser.close"), {}, {}, 3000);
        m_socket.abort();
    }
    if (m_group <= 0)
        return;
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(3000)) {
        ::kill(pid_t(-m_group), SIGTERM);
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    // Helpers that outlived the browser still carry its group.
    ::kill(pid_t(-m_group), SIGKILL);
    m_group = 0;
}

} // namespace casalux::test
