// The desktop program: builds the main window on the program folder and
// hands over to the event loop.

#include "mainwindow.h"
#include "messageprompts.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/soundplayer.h"
#include "x10/cm11acontrol.h"

#include <QApplication>
#include <QTimer>

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

    Cm11aControl control;
    CommandSoundPlayer sounds;
    MessagePrompts prompts;

    MainWindow window({folder, *settings, control, prompts, sounds});
    prompts.setParentWidget(&window);
    window.loadAll();
    window.core().server.startserver();
    window.startTimers();
    window.show();
    // Half a second after the window is up, look for the interface; finding
    // it starts the clock and the minute timer.
    QTimer::singleShot(500, &window, &MainWindow::startInterfaceSearch);
    return QApplication::exec();
}
