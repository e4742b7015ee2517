// hearthcore: the Casalux background engine.
#include "engine/hearthcoreengine.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/unixsignalwatcher.h"
#include "x10/cm11acontrol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

using namespace casalux;

namespace {

QCoro::Task<> run(HearthcoreEngine& engine)
{
    const bool started = co_await engine.start();
    // Nothing to drive: end quietly. (When asked to end, stop() ends it.)
    if (!started && !engine.stopping())
        QCoreApplication::exit(0);
}

QCoro::Task<> stop(HearthcoreEngine& engine)
{
    if (engine.stopping())
        co_return; // a second signal: the first one's wait goes on
    co_await engine.shutdown();
    QCoreApplication::exit(0);
}

} // namespace

int main(int argc, char* argv[])
{
    ProgramFolder::closeNewFilesToOthers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hearthcore"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CASALUX_VERSION));
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--help"))) {
        std::printf("Usage: hearthcore [--home DIR] [--require-login]\n"
                    "The Casalux background engine: fires timed events and serves the\n"
                    "remote-control pages while the desktop program is closed.\n"
                    "The program folder is DIR, else $CASALUX_HOME, else the executable's folder.\n"
                    "--require-login: clients on other machines switch nothing until a login\n"
                    "is set (casaluxctl login); always so on the installed folder %s.\n",
                    qPrintable(ProgramFolder::installedFolder()));
        return 0;
    }
    if (const QString error = Clock::instance().configureFromEnvironment(); !error.isEmpty()) {
        std::fprintf(stderr, "hearthcore: %s\n", qPrintable(error));
        return 2;
    }

    const QString folder = ProgramFolder::resolve(args, QCoreApplication::applicationDirPath());
    const auto settings = SettingsStore::forProgramFolder(folder);
    Cm11aControl control;
    HearthcoreEngine engine(folder, *settings, control);
    // The installed engine serves a home network from the start: nobody
    // there may switch anything before the owner has set a login.
    engine.server().setLoginBeforeNetwork(args.contains(QStringLiteral("--require-login")) ||
                                          QFileInfo(folder).canonicalFilePath() ==
                                              QFileInfo(ProgramFolder::installedFolder())
                                                  .canonicalFilePath());
    UnixSignalWatcher watcher;
    QObject::connect(&watcher, &UnixSignalWatcher::terminationRequested, &engine,
                     [&engine](int) { stop(engine); });
    QObject::connect(&engine, &HearthcoreEngine::quitRequested, &engine,
                     [&engine] { stop(engine); });
    // Started from the event loop, so that ending at once (exit) is seen by it.
    QTimer::singleShot(0, &engine, [&engine] { run(engine); });
    return app.exec();
}
