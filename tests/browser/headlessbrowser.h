#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QWebSocket>

#include <optional>

namespace casalux::test {

// Headless Chromium driven through its DevTools protocol over one web
// socket, for tests that click through real pages. The browser runs in a
// process group of its own with a throw-away profile; the destructor closes
// it and kills whatever of the group is left.
//
// Every call waits on the test's event loop with a bounded timeout, so
// servers running in other processes (or in this one) keep working.
class HeadlessBrowser final : public QObject {
    Q_OBJECT

public:
    explicit HeadlessBrowser(QObject* parent = nullptr);
    ~HeadlessBrowser() override;

    // The Chromium program found on PATH, or empty.
    static QString executable();

    // Starts the browser and opens one page of width × height pixels.
    // Empty when ready, otherwise why the browser could not be used here.
    QString start(int width, int height, int timeoutMs = 30000);

    // One protocol command on the page; nothing on error or timeout
    // (lastError() says which).
    std::optional<QJsonObject> call(const QString& method, const QJsonObject& params = {},
                                    int timeoutMs = 10000);
    // A JavaScript expression's value in the page (nothing when it threw or
    // the page was between two documents).
    std::optional<QJsonValue> evaluate(const QString& expression);
    // Polls a JavaScript expression until it is true.
    bool waitFor(const QString& expression, int timeoutMs);
    bool navigate(const QString& url);
    // A real mouse click in the middle of the element the expression yields,
    // after scrolling it into view; false when there is no such element.
    bool click(const QString& elementExpression);
    // The visible page as PNG bytes.
    QByteArray screenshot();

    QString lastError() const { return m_error; }

private:
    std::optional<QJsonObject> send(const QString& method, const QJsonObject& params,
                                    const QString& session, int timeoutMs);
    void received(const QString& message);
    void shutDown();

    QProcess m_process;
    QTemporaryDir m_profile;
    QWebSocket m_socket;
    QString m_session;
    QHash<int, QJsonObject> m_replies;
    int m_nextId = 1;
    QString m_error;
    qint64 m_group = 0;
};

} // namespace casalux::test
