#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace casalux::sim {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    m_notifier.reset();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

QString PseudoTerminal::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return systemError("posix_openpt");
    if (::grantpt(m_master) != 0)
        return systemError("grantpt");
    if (::unlockpt(m_master) != 0)
        return systemError("unlockpt");
    const char* name = ::ptsname(m_master);
    if (!name)
        return systemError("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);

    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return systemError("open slave");
    // Raw bytes both ways: no echo, no line editing, no CR/LF translation.
    // The driver sets the same when it opens, and restores what it found
    // (raw again) when it closes.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return systemError("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B4800);
    ::cfsetospeed(&tio, B4800);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return systemError("tcsetattr");

    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PseudoTerminal::onReadable);
    return {};
}

void PseudoTerminal::onReadable()
{
    char buffer[256];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n > 0)
        Q_EMIT received(QByteArray(buffer, static_cast<int>(n)));
    // EAGAIN/EIO: nothing for us now; our own slave descriptor keeps the pair alive.
}

void PseudoTerminal::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return; // a full buffer means nobody reads: the bytes are lost, as on a wire
        }
        done += n;
    }
}

} // namespace casalux::sim
