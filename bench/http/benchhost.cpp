// Hosts one Servlane on 127.0.0.1:PORT serving ROOT, as the programs do but
// without trapping, until it is killed.
#include "propertystore.h"
#include "servlane.h"

#include <QCoreApplication>
#include <QMap>

#include <cstdio>
#include <memory>

namespace {

// Keeps the benchmark's settings out of the user's configuration.
class MemoryStore final : public PropertyStore {
public:
    QString readValue(const QString& key, const QString& defaultValue) const override
    {
        return m_values.value(key, defaultValue);
    }
    void writeValue(const QString& key, const QString& value) override
    {
        m_values.insert(key, value);
    }

private:
    QMap<QString, QString> m_values;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: servlane-bench-host ROOT PORT [MAXCONNECTIONS]\n");
        return 2;
    }
    Servlane server(std::make_unique<MemoryStore>());
    server.setServerIP(QStringLiteral("127.0.0.1"));
    server.setServerPort(args[2]);
    server.setVirtualPath(args[1]);
    server.setContentTypeSource(Servlane::Internal);
    server.setMaxConnections(args.size() > 3 ? args[3].toInt() : 129);
    if (!server.StartServer() || server.listeningPort() == 0) {
        std::fprintf(stderr, "could not listen on port %s\n", qPrintable(args[2]));
        return 1;
    }
    std::printf("listening on %u\n", server.listeningPort());
    std::fflush(stdout);
    return app.exec();
}
