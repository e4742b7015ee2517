// The desktop program: builds the main window on the program folder, runs
// the start-up sequence (which takes the interface over from the background
// engine) and hands over to the event loop.
//
//   casalux [--home DIR]
//   casalux --say "Cancel Lounge Lamp"    # a spoken command, to the running copy

#include "mainwindow.h"
#include "messageprompts.h"
#include "programicon.h"
#include "sayoption.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/servicemanager.h"
#include "platform/singleinstance.h"
#include "platform/soundplayer.h"
#include "platform/unixsignalwatcher.h"
#include "x10/cm11acontrol.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

using namespace casalux;

namespace {

// The background engine: installed beside this program, or in the build
// tree's engine folder, or on the PATH.
QString enginePath()
{
    const QDir here(QApplication::applicationDirPath());
    for (const QString& candidate :
         {here.filePath(QStringLiteral("hearthcore")),
          here.filePath(QStringLiteral("../engine/hearthcore"))}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("hearthcore"));
    return onPath.isEmpty() ? here.filePath(QStringLiteral("hearthcore")) : onPath;
}

// `--say`: hands the phrase to the running copy; needs no display.
int say(int argc, char* argv[], const QString& phrase)
{
    QCoreApplication app(argc, argv);
    if (SingleInstance().sendPhrase(phrase))
        return 0;
    std::fprintf(stderr, "casalux: Casalux is not running, so there is nobody to say it to\n");
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList rawArgs;
    for (int i = 0; i < argc; ++i)
        rawArgs.append(QString::fromLocal8Bit(argv[i]));
    const SayOption sayOption = SayOption::parse(rawArgs);
    if (sayOption.kind == SayOption::Kind::Missing) {
        std::fprintf(stderr, "casalux: --say needs a phrase\n%s\n", qPrintable(SayOption::usage()));
        return 2;
    }
    if (sayOption.kind == SayOption::Kind::Phrase)
        return say(argc, argv, sayOption.phrase);

    ProgramFolder::closeNewFilesToOthers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Casalux"));
    QApplication::setApplicationVersion(QStringLiteral(CASALUX_VERSION));
    // Ties the windows to the installed menu entry (its name and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.casalux.Casalux"));
    QApplication::setWindowIcon(ProgramIcon::icon());
    const QStringList args = QApplication::arguments();

    const QString clockError = Clock::instance().configureFromEnvironment();
    if (!clockError.isEmpty())
        std::fprintf(stderr, "casalux: %s\n", qPrintable(clockError));

    const QString folder = ProgramFolder::resolve(args, QApplication::applicationDirPath());
    const auto settings = SettingsStore::forProgramFolder(folder);
    // What this user chose before it was kept machine-wide reaches the engine.
    settings->moveSharedFromUser();
    const QStringList homeArgs{QStringLiteral("--home"), folder};

    Cm11aControl control;
    CommandSoundPlayer sounds;
    MessagePrompts prompts;
    SingleInstance instance;
    const auto service = ServiceManager::forThisMachine(
        {enginePath(), homeArgs},
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));

    MainWindow window({folder, *settings, control, prompts, sounds, *service, instance,
                       AutostartEntry(),
                       {QApplication::applicationFilePath(), homeArgs}});
    prompts.setParentWidget(&window);

    // The window may sit hidden in the tray: the program ends when its
    // shut-down has run, not when the last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    // Ctrl-C or a log-out closes the program as the Exit menu does, so the
    // interface is handed back to the engine.
    UnixSignalWatcher signals;
    QObject::connect(&signals, &UnixSignalWatcher::terminationRequested, &window,
                     [&window](int) { window.close(); });
    window.core().launch([](MainWindow& w) -> QCoro::Task<> {
        const bool go = co_await w.startup();
        // Closed during start-up: the shut-down under way ends the program
        // once it has handed the interface back.
        if (!go && !w.closing())
            QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
    }(window));
    return QApplication::exec();
}
