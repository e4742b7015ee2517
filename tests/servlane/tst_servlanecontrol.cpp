#include "propertystore.h"
#include "rawclient.h"
#include "servlane.h"

#include <QMap>
#include <QMetaMethod>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// A property store the test can look into.
class MapStore final : public PropertyStore {
public:
    explicit MapStore(QMap<QString, QString>* values) : m_values(values) {}
    QString readValue(const QString& key, const QString& defaultValue) const override
    {
        return m_values->value(key, defaultValue);
    }
    void writeValue(const QString& key, const QString& value) override
    {
        m_values->insert(key, value);
    }

private:
    QMap<QString, QString>* m_values;
};

} // namespace

// The control as a host or a script sees it: properties, methods and
// signals reached by name through the meta-object system.
class TestServlaneControl : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void onFileRequest(int index, const QString& fileName, const QString& credentials)
    {
        m_requests << fileName + QLatin1Char('|') + credentials;
        QMetaObject::invokeMethod(m_control, "TrapFileDataEX", Q_ARG(int, index),
                                  Q_ARG(QString, QStringLiteral("by name")), Q_ARG(bool, false),
                                  Q_ARG(QString, QStringLiteral("text/plain")),
                                  Q_ARG(QString, QStringLiteral("202")));
    }
    void onStatusLine(const QString& line) { m_status << line; }
    void onHttpLog(const QString& line) { m_log << line; }

private:
    QObject* m_control = nullptr;
    QStringList m_requests;
    QStringList m_status;
    QStringList m_log;

    void connectByName(QObject* source, const char* signal, const char* slot)
    {
        const QMetaObject* mo = source->metaObject();
        const QMetaMethod s = mo->method(mo->indexOfSignal(signal));
        const QMetaMethod r = metaObject()->method(metaObject()->indexOfSlot(slot));
        QVERIFY2(s.isValid() && r.isValid(), signal);
        QVERIFY(connect(source, s, this, r));
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void defaults()
    {
        QMap<QString, QString> stored;
        Servlane control(std::make_unique<MapStore>(&stored));
        const QMap<const char*, QVariant> expected{
            {"ServerIP", QString()},
            {"ServerPort", QStringLiteral("80")},
            {"ServerSoftware", QStringLiteral("Orbrook Servlane/1.1")},
            {"ServerName", QString()},
            {"ContentTypeSource", int(Servlane::Registry)},
            {"AuthenticationSource", int(Servlane::GolbalFile)},
            {"CGIEnable", false},
            {"CGITimeout", 30},
            {"SSIEnable", false},
            {"HTMLFunctionsEnable", false},
            {"DirectoryBrowseEnable", false},
            {"ErrorFilesEnable", false},
            {"VerboseErrorsEnable", true},
            {"MaxConnections", 2},
            {"ConnectionTimeout", 10},
            {"VirtualPath", QString()},
            {"IndexPageNames", QStringLiteral("index.html")},
            {"TrapFileEnable", false},
            {"TrapFileTypes", QString()},
        };
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QVariant v = control.property(it.key());
            if (it.value().typeId() == QMetaType::Int)
                v = v.toInt();
            QVERIFY2(v == it.value(), it.key());
        }
        QCOMPARE(control.Version(), QStringLiteral("1.1.000"));
        QCOMPARE(control.Stats_UpTime(), QString());
        QVERIFY(stored.isEmpty()); // nothing is written until something changes
    }

    void rulesOnWriteAndPersistence_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("written");
        QTest::addColumn<QVariant>("held");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::newRow("max low") << QByteArray("MaxConnections") << QVariant(1) << QVariant(2)
                                 << "ServerMaxConnections"
                                 << "2";
        QTest::newRow("max high") << QByteArray("MaxConnections") << QVariant(20000)
                                  << QVariant(10000) << "ServerMaxConnections"
                                  << "10000";
        QTest::newRow("timeout negative")
            << QByteArray("ConnectionTimeout") << QVariant(-5) << QVariant(0) << "ConnectionTimeout"
            << "0";
        QTest::newRow("cgi timeout negative")
            << QByteArray("CGITimeout") << QVariant(-5) << QVariant(0) << "CGITimeout"
            << "0";
        QTest::newRow("index names")
            << QByteArray("IndexPageNames") << QVariant(QStringLiteral("index.html , home.htm"))
            << QVariant(QStringLiteral("index.html,home.htm")) << "IndexPageNames"
            << "index.html,home.htm";
        QTest::newRow("trap types")
            << QByteArray("TrapFileTypes") << QVariant(QStringLiteral(" html, htm "))
            << QVariant(QStringLiteral("html,htm")) << "TrapFileTypes"
            << "html,htm";
        QTest::newRow("port from text")
            << QByteArray("ServerPort") << QVariant(QStringLiteral(" 8080 "))
            << QVariant(QStringLiteral("8080")) << "ServerPort"
            << "8080";
        QTest::newRow("port from number") << QByteArray("ServerPort") << QVariant(81)
                                          << QVariant(QStringLiteral("81")) << "ServerPort"
                                          << "81";
        QTest::newRow("ip trimmed")
            << QByteArray("ServerIP") << QVariant(QStringLiteral(" 10.0.0.5 "))
            << QVariant(QStringLiteral("10.0.0.5")) << "ServerIP"
            << "10.0.0.5";
        QTest::newRow("bool") << QByteArray("SSIEnable") << QVariant(true) << QVariant(true)
                              << "SSIEnable"
                              << "True";
        QTest::newRow("enum") << QByteArray("ContentTypeSource") << QVariant(2) << QVariant(2)
                              << "ContentTypeSource"
                              << "2";
    }
    void rulesOnWriteAndPersistence()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, written);
        QFETCH(QVariant, held);
        QFETCH(QString, key);
        QMap<QString, QString> stored;
        {
            Servlane control(std::make_unique<MapStore>(&stored));
            QVERIFY(control.setProperty(property.constData(), written));
            QVariant v = control.property(property.constData());
            if (held.typeId() == QMetaType::Int)
                v = v.toInt();
            QCOMPARE(v, held);
            QTEST(stored.value(key), "stored");
        }
        // A new control reads the stored value back.
        Servlane again(std::make_unique<MapStore>(&stored));
        QVariant v = again.property(property.constData());
        if (held.typeId() == QMetaType::Int)
            v = v.toInt();
        QCOMPARE(v, held);
    }

    void emptyStoredServerNameKeepsDefault()
    {
        QMap<QString, QString> stored{
            {QStringLiteral("ServerName"), QString()},
            {QStringLiteral("ServerMaxConnections"), QStringLiteral("99999")}};
        Servlane control(std::make_unique<MapStore>(&stored));
        QCOMPARE(control.ServerName(), QString());
        QCOMPARE(control.MaxConnections(), 10000);
    }

    void drivenByNameAlone()
    {
        QTemporaryDir dir;
        QMap<QString, QString> stored;
        auto owned = std::make_unique<Servlane>(std::make_unique<MapStore>(&stored));
        QObject* control = owned.get();
        m_control = control;
        m_requests.clear();
        m_status.clear();
        m_log.clear();
        connectByName(control, "FileRequest(int,QString,QString)",
                      "onFileRequest(int,QString,QString)");
        connectByName(control, "StatusLine(QString)", "onStatusLine(QString)");
        connectByName(control, "HTTPLog(QString)", "onHttpLog(QString)");

        QVERIFY(control->setProperty("ServerIP", QStringLiteral("127.0.0.1")));
        QVERIFY(control->setProperty("ServerPort", 0));
        QVERIFY(control->setProperty("ServerName", QStringLiteral("box")));
        QVERIFY(control->setProperty("VirtualPath", dir.path()));
        QVERIFY(control->setProperty("MaxConnections", 5));
        QVERIFY(control->setProperty("TrapFileEnable", true));
        QVERIFY(control->setProperty("ContentTypeSource", QStringLiteral("Internal")));
        QCOMPARE(control->property("ContentTypeSource").toInt(), 2);

        bool started = false;
        QVERIFY(QMetaObject::invokeMethod(control, "StartServer", Q_RETURN_ARG(bool, started)));
        QVERIFY(started);
        QString free;
        QVERIFY(QMetaObject::invokeMethod(control, "Stats_FreeConnections",
                                          Q_RETURN_ARG(QString, free)));
        QCOMPARE(free, QStringLiteral("5/5"));

        const quint16 port = owned->listeningPort();
        QCOMPARE(m_status.value(0), QStringLiteral("Starting Server ..."));
        QCOMPARE(m_status.value(1), QStringLiteral("Server Started. 127.0.0.1:%1 - box").arg(port));
        QVERIFY(m_log.value(0).contains(QStringLiteral(" - Starting Server ...")));
        const QStringList settingsLines = m_log.mid(1, 15);
        QCOMPARE(settingsLines.value(0), QStringLiteral("#Connection Timeout [min]: 10"));
        QCOMPARE(settingsLines.value(1), QStringLiteral("#CGI Enabled: False"));
        QCOMPARE(settingsLines.value(2), dir.path().prepend(QStringLiteral("#CGI Directory: ")) +
                                             QStringLiteral("/scripts"));
        QCOMPARE(settingsLines.value(8), QStringLiteral("#Use Error Files:False"));
        QCOMPARE(settingsLines.value(9), QStringLiteral("#Max Connections: 5"));
        QCOMPARE(settingsLines.value(10), QStringLiteral("#Server Name: box"));
        QCOMPARE(settingsLines.value(11), QStringLiteral("#Server IP Address: 127.0.0.1"));
        QCOMPARE(settingsLines.value(12), QStringLiteral("#HTTP Port: %1").arg(port));
        QCOMPARE(settingsLines.value(14), QStringLiteral("#Index Page Name: index.html"));
        QVERIFY(m_log.value(16).endsWith(QStringLiteral(" - Server Started.")));
        QVERIFY(m_log.value(16).startsWith(QStringLiteral("#[")));
        QCOMPARE(stored.value(QStringLiteral("CGIDirectory")), dir.path() + "/scripts");

        // A second start while running: false, and nothing logged.
        const qsizetype logged = m_log.size();
        QVERIFY(QMetaObject::invokeMethod(control, "StartServer", Q_RETURN_ARG(bool, started)));
        QVERIFY(!started);
        QCOMPARE(m_log.size(), logged);

        const auto reply = RawClient::get(
            port, "/x.html", "Authorization: Basic " + QByteArray("bob:pw").toBase64() + "\r\n");
        QCOMPARE(m_requests, QStringList{QStringLiteral("/x.html|bob:pw")});
        QCOMPARE(reply.status(), 202);
        QCOMPARE(reply.body(), QByteArray("by name"));

        bool stopped = false;
        QVERIFY(QMetaObject::invokeMethod(control, "StopServer", Q_RETURN_ARG(bool, stopped)));
        QVERIFY(stopped);
        QCOMPARE(m_status.mid(2), (QStringList{QStringLiteral("Stopping Server ..."),
                                               QStringLiteral("Server Stopped.")}));
        QVERIFY(m_log.last().endsWith(QStringLiteral(" - Server Stopped.")));
        bool running = true;
        QVERIFY(QMetaObject::invokeMethod(control, "ServerRunning", Q_RETURN_ARG(bool, running)));
        QVERIFY(!running);
        QVERIFY(!RawClient::get(port, "/x.html").connected ||
                RawClient::get(port, "/x.html").bytes.isEmpty());
    }

    void statistics()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("b.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1400, 'b'));
        f.close();
        QMap<QString, QString> stored;
        Servlane control(std::make_unique<MapStore>(&stored));
        control.setServerIP(QStringLiteral("127.0.0.1"));
        control.setServerPort(QStringLiteral("0"));
        control.setVirtualPath(dir.path());
        control.setContentTypeSource(Servlane::Internal);
        QVERIFY(control.StartServer());
        const auto r = RawClient::get(control.listeningPort(), "/b.bin");
        QCOMPARE(r.body().size(), 1400);
        // About 1.5 KiB sent with the header: rounds to 2K.
        QVERIFY(r.bytes.size() > 1536 && r.bytes.size() < 1536 + 512);
        QCOMPARE(control.Stats_BytesSent(), QStringLiteral("2K"));
        QCOMPARE(control.Stats_BytesReceived(), QStringLiteral("0K"));
        QCOMPARE(control.Stats_Requests(), QStringLiteral("1"));
        QVERIFY(QRegularExpression(QStringLiteral(R"(^00:00:00:0\d$)"))
                    .match(control.Stats_UpTime())
                    .hasMatch());
    }
};

QTEST_GUILESS_MAIN(TestServlaneControl)
#include "tst_servlanecontrol.moc"
