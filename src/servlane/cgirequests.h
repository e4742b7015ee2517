#pragma once

#include "serverparts.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace servlane {

class CgiRunner;
class RequestDispatch;

// The programs requests run: a CGI program asked for by its path, and the
// programs of a page's exec tags, each as a child process with the request's
// server variables for environment. Nothing blocks: the answer is sent when
// the last program is done, if the client still waits for it.
class CgiRequests final {
public:
    struct Settings {
        QString serverSoftware;
        QString cgiDirectory;
        int timeoutMs = 0; // 0 = no limit
    };

    CgiRequests(ServerParts& parts, RequestDispatch& dispatch);
    ~CgiRequests();

    void setSettings(const Settings& settings) { m_settings = settings; }

    // The program a CGI request path names: the file found under the
    // document root, else the program of that name in CGIDirectory.
    QString programFor(const QString& requestPath, const QString& foundPath) const;
    // Runs the program and answers the request with what it wrote.
    void runCgi(int index, const QString& program);
    // When the HTML page holds exec tags: runs their programs one after the
    // other, then answers with the page; false (nothing started) otherwise.
    bool runExecTags(int index, const QString& localPath);
    // Output of an exec tag of the page being built.
    std::optional<QByteArray> execOutput(const QString& kind, const QString& command) const;
    void stopPrograms();

private:
    QList<QPair<QString, QString>> execTags(int index, const QString& localPath);
    bool execProgram(const QString& kind, const QString& command, QString& program,
                     QStringList& arguments) const;
    QStringList environment(int index, const QString& localPath) const;
    void startProgram(int index, const QString& program, const QStringList& arguments,
                      const QString& localPath, std::function<void(const QByteArray&)> done);

    ServerParts& m_parts;
    RequestDispatch& m_dispatch;
    Settings m_settings;
    QList<QPointer<CgiRunner>> m_runners;
    // Output of the exec tags of the page being built, by kind and command;
    // filled before the page is processed.
    QHash<QString, QByteArray> m_execOutputs;
};

} // namespace servlane
