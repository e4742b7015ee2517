// cm11a-sim: a virtual CM11A/CM12 X10 interface on a pseudo-terminal.
#include "console.h"
#include "consolecommand.h"
#include "platform/clock.h"
#include "pseudoterminal.h"
#include "siminterface.h"
#include "wirepacer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

using namespace casalux::sim;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cm11a-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CASALUX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Plays a CM11A/CM12 X10 interface on a pseudo-terminal. The first line on standard\n"
            "output is the device path to give the driver (e.g. CASALUX_SERIAL_1=/dev/pts/7);\n"
            "each command carried out then prints one line, such as \"A3 ON LEVEL 100\",\n"
            "\"A3 DIM 15/22 LEVEL 32\" or \"REMOTE A1 OFF LEVEL 0\".\n\n") +
        ConsoleCommand::help());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption corrupt(
        QStringLiteral("corrupt-checksum-once"),
        QStringLiteral("Answer the first transmission with a wrong checksum."));
    const QCommandLineOption silent(
        QStringLiteral("silent"),
        QStringLiteral("Never answer anything (an interface without power)."));
    const QCommandLineOption powerFail(
        QStringLiteral("power-fail"),
        QStringLiteral("Start with the 0xA5 clock request, as after a power cut."));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        QStringLiteral("Pace bytes as a serial wire at this rate (default 4800; 0 = no pacing)."),
        QStringLiteral("rate"), QStringLiteral("4800"));
    const QCommandLineOption lineDelay(
        QStringLiteral("line-delay"),
        QStringLiteral(
            "Milliseconds a transmission takes on the power line before 0x55 (default 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption trace(
        QStringLiteral("trace"), QStringLiteral("Print every byte in and out on standard error."));
    parser.addOptions({corrupt, silent, powerFail, baud, lineDelay, trace});
    parser.process(app);

    bool baudOk = false;
    bool delayOk = false;
    const int baudRate = parser.value(baud).toInt(&baudOk);
    const int delayMs = parser.value(lineDelay).toInt(&delayOk);
    if (!baudOk || baudRate < 0 || baudRate > 1000000 || !delayOk || delayMs < 0 ||
        delayMs > 60000) {
        Console::printError(
            QStringLiteral("cm11a-sim: --baud takes 0..1000000, --line-delay 0..60000"));
        return 2;
    }
    // CASALUX_TIME_SCALE speeds up the poll period and pacing like the programs' waits.
    const QString clockError = casalux::Clock::instance().configureFromEnvironment();
    if (!clockError.isEmpty())
        Console::printError(QStringLiteral("cm11a-sim: ") + clockError);

    PseudoTerminal pty;
    if (const QString error = pty.open(); !error.isEmpty()) {
        Console::printError(QStringLiteral("cm11a-sim: cannot open a pseudo-terminal: ") + error);
        return 1;
    }
    Console::print(pty.slavePath());

    SimOptions options;
    options.corruptChecksumOnce = parser.isSet(corrupt);
    options.silent = parser.isSet(silent);
    options.powerFail = parser.isSet(powerFail);
    options.lineDelayMs = delayMs;
    SimInterface sim(options);
    WirePacer toInterface(baudRate);
    WirePacer toPc(baudRate);
    Console console(sim);

    QObject::connect(&pty, &PseudoTerminal::received, &toInterface, &WirePacer::push);
    QObject::connect(&toInterface, &WirePacer::delivered, &sim, &SimInterface::receive);
    QObject::connect(&sim, &SimInterface::transmit, &toPc, &WirePacer::push);
    QObject::connect(&toPc, &WirePacer::delivered, &pty, &PseudoTerminal::write);
    QObject::connect(&sim, &SimInterface::executed, &Console::print);
    if (parser.isSet(trace))
        QObject::connect(&sim, &SimInterface::trace, &Console::printError);
    QObject::connect(&console, &Console::quitRequested, &app, &QCoreApplication::quit);

    sim.start();
    console.startReading();
    return app.exec();
}
