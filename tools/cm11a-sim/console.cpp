#include "console.h"

#include "consolecommand.h"
#include "siminterface.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace casalux::sim {

namespace {
// A command line longer than this is not a command; drop it.
constexpr qsizetype kMaxLine = 1024;
} // namespace

Console::Console(SimInterface& sim, QObject* parent) : QObject(parent), m_sim(sim) {}

void Console::startReading()
{
    m_notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &Console::onReadable);
}

void Console::print(const QString& line)
{
    std::fputs(line.toLocal8Bit().append('\n').constData(), stdout);
    std::fflush(stdout);
}

void Console::printError(const QString& line)
{
    std::fputs(line.toLocal8Bit().append('\n').constData(), stderr);
    std::fflush(stderr);
}

void Console::onReadable()
{
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        // End of input: keep simulating; QUIT or a signal ends the program.
        m_notifier->setEnabled(false);
        return;
    }
    if (n < 0)
        return;
    m_partial.append(buffer, static_cast<qsizetype>(n));
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        const QByteArray line = m_partial.left(end);
        m_partial.remove(0, end + 1);
        run(QString::fromLocal8Bit(line));
    }
    if (m_partial.size() > kMaxLine) {
        printError(QStringLiteral("error: line too long, ignored"));
        m_partial.clear();
    }
}

void Console::run(const QString& line)
{
    const ConsoleCommand c = ConsoleCommand::parse(line);
    switch (c.kind) {
    case ConsoleCommand::Kind::Empty:
        return;
    case ConsoleCommand::Kind::Invalid:
        printError(QStringLiteral("error: ") + c.error);
        return;
    case ConsoleCommand::Kind::Help:
        printError(ConsoleCommand::help());
        return;
    case ConsoleCommand::Kind::Quit:
        Q_EMIT quitRequested();
        return;
    case ConsoleCommand::Kind::PowerFail:
        m_sim.requestPowerFail();
        return;
    case ConsoleCommand::Kind::Status:
        if (c.unit > 0) {
            print(QStringLiteral("STATE ") + m_sim.powerLine().stateLine(c.house, c.unit));
        } else {
            for (const QString& state : m_sim.powerLine().stateLines())
                print(QStringLiteral("STATE ") + state);
            print(QStringLiteral("STATE END"));
        }
        return;
    case ConsoleCommand::Kind::Traffic:
        m_sim.inject(c.house, c.unit, c.function, c.percent, c.collide);
        return;
    }
}

} // namespace casalux::sim
