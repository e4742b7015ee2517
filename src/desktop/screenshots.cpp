// casalux-screenshots: renders the main window on a program folder into PNG
// pictures for the documentation (home panel, a room, the event editor,
// the wait window and the tray menu).
// It drives the real window and core: the interface is looked for on the
// saved port as at start-up, and the room's devices are switched through
// the room view before its picture is taken. Run it on the offscreen
// platform (scripts/screenshots.sh does, with the simulated interface).
//
//   casalux-screenshots --home DIR --out DIR [--room NAME]

#include "devicetree.h"
#include "trayicon.h"
#include "waitwindow.h"
#include "mainwindow.h"
#include "messageprompts.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/singleinstance.h"
#include "platform/soundplayer.h"
#include "x10/cm11acontrol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QTimer>

#include <qcoro/qcorotimer.h>

#include <chrono>
#include <cstdio>

using namespace casalux;
using namespace std::chrono_literals;

namespace {

// The pictures need no background engine.
struct NoService final : ServiceManager {
    QCoro::Task<bool> install() override { co_return false; }
    QCoro::Task<bool> remove() override { co_return false; }
    QCoro::Task<bool> start() override { co_return false; }
    QCoro::Task<bool> stop() override { co_return false; }
    QCoro::Task<QString> status() override { co_return QString(); }
};

struct Shots {
    MainWindow& window;
    QString outDir;
    QString room;
};

bool save(QWidget& window, const QString& outDir, const QString& name)
{
    const QString path = QDir(outDir).filePath(name);
    const bool ok = window.grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
                 qPrintable(path));
    return ok;
}

// Lets the layouts and the pictures settle: timers, not a nested loop.
QCoro::Task<> pause()
{
    QTimer timer;
    timer.start(300ms);
    co_await timer;
}

QCoro::Task<> click(DesktopCore& core, QTreeWidgetItem* node)
{
    if (!node)
        co_return;
    QTreeWidget* tree = node->treeWidget();
    tree->setCurrentItem(node);
    Q_EMIT tree->itemClicked(node, 0);
    co_await pause();
    while (core.running() > 0)
        co_await pause();
}

QCoro::Task<> take(Shots shots)
{
    MainWindow& window = shots.window;
    DesktopCore& core = window.core();
    int failures = 0;
    co_await core.finder.findinterface();
    co_await pause();
    failures += save(window, shots.outDir, QStringLiteral("desktop-home.png")) ? 0 : 1;

    auto* tree = window.findChild<DeviceTree*>(QStringLiteral("Tree"));
    QTreeWidgetItem* room = tree->findKey(shots.room);
    if (room && core.finder.interfaceReady()) {
        co_await click(core, room);
        // The first device dimmed to 60 %, the second switched on.
        co_await core.clicks.deviceclicked(0, 60);
        if (room->childCount() > 1)
            co_await core.clicks.deviceclicked(1);
    }
    co_await click(core, room);
    failures += save(window, shots.outDir, QStringLiteral("desktop-room.png")) ? 0 : 1;

    co_await click(core, tree->findKey(QStringLiteral("Events")));
    failures += save(window, shots.outDir, QStringLiteral("desktop-events.png")) ? 0 : 1;

    co_await click(core, tree->findKey(QStringLiteral("Macros")));
    failures += save(window, shots.outDir, QStringLiteral("desktop-macros.png")) ? 0 : 1;

    // The wait window half-way through a delayed start, and the tray's menu.
    window.showWait(QStringLiteral("Casalux - Starting"));
    window.showSkipLink(true);
    window.setWaitProgress(QStringLiteral("Time Delay 14"));
    co_await pause();
    failures += save(*window.waitWindow(), shots.outDir, QStringLiteral("desktop-wait.png")) ? 0 : 1;
    window.closeWait();
    window.loadtray();
    QMenu* menu = window.tray()->menu();
    menu->adjustSize();
    co_await pause();
    failures += save(*menu, shots.outDir, QStringLiteral("desktop-tray-menu.png")) ? 0 : 1;
    QApplication::exit(failures == 0 ? 0 : 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Casalux"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the Casalux main window to PNG files."));
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program folder."),
                                  QStringLiteral("dir"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                                 QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption room(QStringLiteral("room"), QStringLiteral("Room to show."),
                                  QStringLiteral("name"), QStringLiteral("Lounge"));
    parser.addOptions({home, out, room});
    parser.process(app);

    if (const QString error = Clock::instance().configureFromEnvironment(); !error.isEmpty()) {
        std::fprintf(stderr, "casalux-screenshots: %s\n", qPrintable(error));
        return 2;
    }
    const QString folder =
        ProgramFolder::resolve(QApplication::arguments(), QApplication::applicationDirPath());
    const auto settings = SettingsStore::forProgramFolder(folder);
    Cm11aControl control;
    SilentSoundPlayer sounds;
    MessagePrompts prompts;
    NoService service;
    SingleInstance instance(QStringLiteral("casalux-screenshots"));
    MainWindow window({folder, *settings, control, prompts, sounds, service, instance,
                       AutostartEntry(QDir(folder).filePath(QStringLiteral("config"))),
                       {QApplication::applicationFilePath(), {}}});
    prompts.setParentWidget(&window);
    window.loadAll();
    window.loadOptions();
    window.resize(1024, 680);
    window.show();
    QDir().mkpath(parser.value(out));
    QTimer::singleShot(0, &window, [&] { take({window, parser.value(out), parser.value(room)}); });
    return QApplication::exec();
}
