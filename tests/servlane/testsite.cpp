#include "testsite.h"

#include "settingspropertystore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

void writeFile(const QString& path, const QByteArray& content, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(content), content.size());
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

TestSite::TestSite(const servlane::RequestLimits& limits)
{
    auto settings =
        std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    server = std::make_unique<Servlane>(std::make_unique<SettingsPropertyStore>(std::move(settings)));
    server->setHostFolder(m_dir.path());
    server->setRequestLimits(limits);
    server->setServerIP(QStringLiteral("127.0.0.1"));
    server->setServerPort(QStringLiteral("0"));
    server->setVirtualPath(root());
    server->setContentTypeSource(Servlane::Internal);
}

quint16 TestSite::start()
{
    return server->StartServer() ? server->listeningPort() : 0;
}
