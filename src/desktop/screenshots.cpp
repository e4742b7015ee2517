// casalux-screenshots: renders the main window on a program folder into PNG
// pictures for the documentation (home panel, a room, the event editor,
// the macros, the wait window and the tray menu), in the light or a dark
// palette; the scale comes from QT_SCALE_FACTOR.
// It drives the real window and core: the interface is looked for on the
// saved port as at start-up, and the room's devices are switched through
// the room view before its picture is taken. Run it on the offscreen
// platform (scripts/screenshots.sh does, with the simulated interface).
//
//   casalux-screenshots --home DIR --out DIR [--room NAME] [--dark]
//                       [--suffix TEXT] [--views home,room,...]

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
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
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
    QString suffix;    // appended to each file's base name ("-dark", "@2x")
    QStringList views; // which pictures; empty for all
};

// Writes `view` as desktop-<view><suffix>.png when it is asked for.
bool save(QWidget& window, const Shots& shots, const QString& view)
{
    if (!shots.views.isEmpty() && !shots.views.contains(view))
        return true;
    const QString path =
        QDir(shots.outDir).filePath(QStringLiteral("desktop-%1%2.png").arg(view, shots.suffix));
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
    failures += save(window, shots, QStringLiteral("home")) ? 0 : 1;

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
    failures += save(window, shots, QStringLiteral("room")) ? 0 : 1;

    co_await click(core, tree->findKey(QStringLiteral("Events")));
    failures += save(window, shots, QStringLiteral("events")) ? 0 : 1;

    co_await click(core, tree->findKey(QStringLiteral("Macros")));
    failures += save(window, shots, QStringLiteral("macros")) ? 0 : 1;

    // The wait window half-way through a delayed start, and the tray's menu.
    window.loader().showWait(QStringLiteral("Casalux - Starting"));
    window.loader().showSkipLink(true);
    window.loader().setWaitProgress(QStringLiteral("Time Delay 14"));
    co_await pause();
    failures += save(*window.loader().waitWindow(), shots, QStringLiteral("wait")) ? 0 : 1;
    window.loader().closeWait();
    window.loadtray();
    QMenu* menu = window.tray()->menu();
    menu->adjustSize();
    co_await pause();
    failures += save(*menu, shots, QStringLiteral("tray-menu")) ? 0 : 1;
    QApplication::exit(failures == 0 ? 0 : 1);
}

// Fusion in a dark palette, as a dark desktop theme would give it; the
// offscreen platform has no theme of its own to follow.
QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2d, 0x31, 0x36);
    const QColor base(0x23, 0x26, 0x2a);
    const QColor text(0xe6, 0xe9, 0xec);
    const QColor disabled(0x80, 0x86, 0x8c);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3f, 0x45));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4a, 0x50, 0x57));
    p.setColor(QPalette::Midlight, QColor(0x42, 0x47, 0x4d));
    p.setColor(QPalette::Mid, QColor(0x5c, 0x63, 0x6a));
    p.setColor(QPalette::Dark, QColor(0x1c, 0x1e, 0x21));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8e, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xb0, 0x8c, 0xff));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Casalux"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Renders the Casalux main window to PNG files."));
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program folder."),
                                  QStringLiteral("dir"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                                 QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption room(QStringLiteral("room"), QStringLiteral("Room to show."),
                                  QStringLiteral("name"), QStringLiteral("Lounge"));
    const QCommandLineOption dark(QStringLiteral("dark"), QStringLiteral("Use a dark palette."));
    const QCommandLineOption suffix(QStringLiteral("suffix"),
                                    QStringLiteral("Text after each file's base name."),
                                    QStringLiteral("text"));
    const QCommandLineOption views(
        QStringLiteral("views"),
        QStringLiteral("Pictures to write (home,room,events,macros,wait,tray-menu)."),
        QStringLiteral("list"));
    parser.addOptions({home, out, room, dark, suffix, views});
    parser.process(app);
    // The same style in both palettes, whatever the machine's default.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (parser.isSet(dark))
        QApplication::setPalette(darkPalette());

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
    MainWindow window({folder,
                       *settings,
                       control,
                       prompts,
                       sounds,
                       service,
                       instance,
                       AutostartEntry(QDir(folder).filePath(QStringLiteral("config"))),
                       {QApplication::applicationFilePath(), {}}});
    prompts.setParentWidget(&window);
    window.loader().loadAll();
    window.loader().loadOptions();
    window.resize(1024, 680);
    window.show();
    QDir().mkpath(parser.value(out));
    QTimer::singleShot(0, &window, [&] {
        take({window, parser.value(out), parser.value(room), parser.value(suffix),
              parser.value(views).split(QLatin1Char(','), Qt::SkipEmptyParts)});
    });
    return QApplication::exec();
}
