#pragma once

#include "requestlimits.h"
#include "servlane.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Writes a file, making its folders; fails the running test when it cannot.
void writeFile(const QString& path, const QByteArray& content, bool executable = false);

// A throw-away host folder whose web root is "www", and a server on it
// that listens on 127.0.0.1 at a free port, with its settings in the folder
// and the built-in content types.
class TestSite final {
public:
    explicit TestSite(const servlane::RequestLimits& limits);

    QString root() const { return m_dir.filePath(QStringLiteral("www")); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString path() const { return m_dir.path(); }

    // Starts the server; the port it listens on, 0 when it did not start.
    quint16 start();

private:
    QTemporaryDir m_dir;

public:
    std::unique_ptr<Servlane> server;
};

// Base of the server test classes: the throw-away site of the test function
// being run, its server and the port it listens on. Each test class makes
// the site in init() and drops it in cleanup().
class SiteTestCase : public QObject {
protected:
    std::unique_ptr<TestSite> m_site;
    Servlane* m_server = nullptr;
    quint16 m_port = 0;

    QString root() const { return m_site->root(); }
    // Starts the server; fails the running test when it does not listen.
    void start()
    {
        m_port = m_site->start();
        QVERIFY(m_port != 0);
    }
};
