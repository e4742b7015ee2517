#include "enginerig.h"

#include "home/settingkeys.h"
#include "httpget.h"

#include <QDir>
#include <QFile>
#include <cstdio>

namespace casalux::test {

EngineRig::EngineRig() : webPort(freePort())
{
    settings.write(settingkeys::webport, QString::number(webPort));
    settings.write(settingkeys::port, QStringLiteral("1"));
    engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

EngineRig::~EngineRig()
{
    if (engine.state() == QProcess::NotRunning)
        return;
    engine.terminate();
    if (!engine.waitForFinished(5000)) {
        engine.kill();
        engine.waitForFinished(5000);
    }
}

bool EngineRig::start(const QString& now, double timeScale)
{
    if (!sim.start(simArguments, 0))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("CASALUX_NOW"));
    env.remove(QStringLiteral("CASALUX_TIME_SCALE"));
    if (!now.isEmpty()) {
        env.insert(QStringLiteral("CASALUX_NOW"), now);
        env.insert(QStringLiteral("CASALUX_TIME_SCALE"), QString::number(timeScale));
    }
    env.insert(QStringLiteral("CASALUX_HOME"), folder.path());
    if (throughLink && !relink(sim))
        return false;
    env.insert(QStringLiteral("CASALUX_SERIAL_1"), throughLink ? linkPath() : sim.devicePath());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.file(QStringLiteral("config")));
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    engine.setProcessEnvironment(env);
    engine.start(QStringLiteral(HEARTHCORE_PATH), arguments);
    return engine.waitForStarted(5000);
}

void EngineRig::hideAllPorts()
{
    QDir().mkpath(folder.file(QStringLiteral("dev")));
    for (int port = 1; port <= 15; ++port)
        environment.insert(QStringLiteral("CASALUX_SERIAL_%1").arg(port), hiddenPort(port));
}

bool EngineRig::relink(const SimProcess& to) const
{
    const QString next = linkPath() + QStringLiteral(".new");
    QFile::remove(next);
    return QFile::link(to.devicePath(), next) &&
           std::rename(next.toLocal8Bit().constData(), linkPath().toLocal8Bit().constData()) == 0;
}

} // namespace casalux::test
