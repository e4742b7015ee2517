// The desktop program: builds the main window on the program folder and
// hands over to the event loop.

#include "mainwindow.h"
#include "messageprompts.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/soundplayer.h"
#include "x10/nullinterface.h"

#include <QApplication>

#include <cstdio>

using namespace casalux;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Casalux"));
    QApplication::setApplicationVersion(QStringLiteral(CASALUX_VERSION));

    const QString clockError = Clock::instance().configureFromEnvironment();
    if (!clockError.isEmpty())
        std::fprintf(stderr, "casalux: %s\n", qPrintable(clockError));

    const QString folder =
        ProgramFolder::resolve(QApplication::arguments(), QApplication::applicationDirPath());
    const auto settings = SettingsStore::forProgramFolder(folder);

    // The interface driver goes here: the CM11A driver replaces this once the
    // start-up sequence searches for it. Until then no interface is fitted.
    NullInterface control;
    CommandSoundPlayer sounds;
    MessagePrompts prompts;

    MainWindow window({folder, *settings, control, prompts, sounds});
    prompts.setParentWidget(&window);
    window.loadAll();
    window.startTimers();
    window.show();
    return QApplication::exec();
}
