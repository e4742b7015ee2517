#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace servlane {

// Runs one CGI program (or the program of an exec tag) as a child process
// and collects what it writes to standard output, without ever blocking the
// thread: output is read as it comes, so a program that writes more than a
// pipe holds is not stalled, and the result is announced by `finished`.
//
// A program that runs past the time-out, or writes more than the output cap,
// is killed; what it wrote until then is the output. Failing to start gives
// the failure text instead ("Create::Process Failed." and its two lines).
class CgiRunner final : public QObject {
    Q_OBJECT

public:
    struct Job {
        QString program;   // absolute path
        QStringList arguments;
        QString workingDirectory;
        QStringList environment; // "NAME=value", in order; the child gets exactly these
        QByteArray input;        // written to standard input, which is then closed
        int timeoutMs = 0;       // 0 = no limit
        qint64 maxOutput = 8 * 1024 * 1024;
    };

    explicit CgiRunner(QObject* parent = nullptr);
    ~CgiRunner() override;

    void start(const Job& job);
    // Stops the program (if running) without announcing anything.
    void abandon();
    bool timedOut() const { return m_timedOut; }
    bool truncated() const { return m_truncated; }

    // The time-out in ms for a CGITimeout in seconds: at most 2 000 000 s,
    // 0 for no limit.
    static int timeoutMs(int cgiTimeoutSeconds);
    // "<what><BR>\r\nError Desc: <desc><BR>\r\nError Number: <n><BR>\r\n"
    static QByteArray failureText(const QString& what, const QString& description, int number);
    // The command line rule: a ".bat" program gets the arguments, split at
    // spaces; any other program none.
    static QStringList argumentsFor(const QString& programName, const QString& arguments);

Q_SIGNALS:
    void finished(const QByteArray& output);

private:
    void readOutput();
    void onFinished();
    void onError(QProcess::ProcessError error);
    void finish(const QByteArray& output);

    QProcess m_process;
    QTimer m_deadline;
    QByteArray m_output;
    qint64 m_maxOutput = 0;
    bool m_done = false;
    bool m_timedOut = false;
    bool m_truncated = false;
};

} // namespace servlane
