#include "cm11acontrol.h"

#include "cm11aprotocol.h"
#include "platform/clock.h"
#include "serialportmap.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>

namespace casalux {

namespace {

Q_LOGGING_CATEGORY(lcCm11a, "casalux.x10.cm11a", QtWarningMsg)

using P = Cm11aProtocol;

QByteArray oneByte(quint8 b)
{
    return QByteArray(1, static_cast<char>(b));
}

} // namespace

Cm11aControl::Cm11aControl(QObject* parent) : InterfaceControl(parent)
{
    m_dispatch.setSingleShot(true);
    connect(&m_serial, &QSerialPort::readyRead, this, &Cm11aControl::onReadyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &Cm11aControl::onError);
    connect(&m_dispatch, &QTimer::timeout, this, &Cm11aControl::dispatch);
    // Bytes that came in while a conversation was ending (a poll right after
    // the 0x55) would otherwise wait for the interface's next repeat.
    m_line.setIdleHandler([this] {
        if (!m_inbox.isEmpty())
            m_dispatch.start(0);
    });
}

Cm11aControl::~Cm11aControl()
{
    // Commands still in flight end with false rather than staying suspended
    // for ever: with the port closed, each one unwinds without waiting.
    m_serial.close();
    m_inbox.clear();
    m_dispatch.stop();
    if (m_wakeup.isWaiting())
        m_wakeup.wake();
    m_line.drain();
}

void Cm11aControl::onReadyRead()
{
    m_inbox += m_serial.readAll();
    // Never run protocol code inside the port's own signal.
    m_dispatch.start(0);
}

void Cm11aControl::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError:
        return;
    default:
        break;
    }
    if (!m_serial.isOpen() || m_lost)
        return;
    // An unplugged adapter shows up as a resource (or read/write) error:
    // whatever waits on the line must end now, not at its timeout.
    qCWarning(lcCm11a) << "serial port" << m_serial.portName()
                       << "failed:" << m_serial.errorString();
    m_lost = true;
    m_dispatch.start(0);
}

void Cm11aControl::dispatch()
{
    if (m_lost && m_serial.isOpen())
        lose();
    if (m_wakeup.isWaiting()) {
        m_wakeup.wake();
        return;
    }
    // The holder of the line reads the inbox when it next waits.
    if (m_line.isBusy() || m_inbox.isEmpty())
        return;
    // Nothing of ours is on the line: these bytes are the interface's own.
    serviceUnsolicited();
}

QCoro::Task<> Cm11aControl::serviceUnsolicited()
{
    co_await m_line.lock();
    Cm11aLineLock::Held held(m_line);
    int strays = 0;
    while (usable() && !m_inbox.isEmpty()) {
        const auto b = static_cast<quint8>(m_inbox.front());
        m_inbox.remove(0, 1);
        if (b == P::Poll) {
            co_await servicePoll();
        } else if (b == P::PowerFail) {
            co_await answerPowerFail();
        } else if (++strays <= MaxStrayBytes) {
            // Leftovers such as a late 0x55 of a transmission that timed out.
            qCDebug(lcCm11a) << "ignoring stray byte" << Qt::hex << b;
        } else {
            m_inbox.clear();
        }
    }
}

void Cm11aControl::lose()
{
    closePort();
    // Only an interface the program had in hand is lost; one that never
    // answered is the interface search's business.
    if (std::exchange(m_ready, false)) {
        qCWarning(lcCm11a) << "interface on" << m_serial.portName() << "lost";
        reportLost();
    }
}

void Cm11aControl::closePort()
{
    if (m_serial.isOpen())
        m_serial.close();
    m_inbox.clear();
    if (m_wakeup.isWaiting())
        m_dispatch.start(0);
}

bool Cm11aControl::write(const QByteArray& bytes)
{
    if (!usable())
        return false;
    qCDebug(lcCm11a) << "->" << bytes.toHex(' ');
    if (m_serial.write(bytes) != bytes.size()) {
        qCWarning(lcCm11a) << "write failed:" << m_serial.errorString();
        return false;
    }
    return true;
}

// A faster clock shortens the waits for an answer, but never below a second
// of real time: the far end may be another process on a busy machine, and a
// missed answer would read as a fault of the interface. The quiet window that
// tells a lone poll from a streaming reply scales as the polls do.
QCoro::Task<std::optional<quint8>> Cm11aControl::readByte(int clockMs)
{
    const int scaled = Clock::instance().interval(clockMs);
    co_return co_await readByteWithin(std::max(scaled, std::min(clockMs, MinRealWaitMs)));
}

QCoro::Task<std::optional<quint8>> Cm11aControl::readByteWithin(int realMs)
{
    while (m_inbox.isEmpty() && usable()) {
        if (!co_await m_wakeup.wait(realMs))
            break;
    }
    if (m_inbox.isEmpty() || !usable())
        co_return std::nullopt;
    const auto b = static_cast<quint8>(m_inbox.front());
    m_inbox.remove(0, 1);
    qCDebug(lcCm11a) << "<-" << Qt::hex << b;
    co_return b;
}

// The probe is a status request (0x8B): the interface answers it with 14
// bytes at once, with no handshake and without touching the power line, so
// it is the cheapest question that proves a CM11A/CM12 sits on the port. A
// port that only echoes or babbles fails the plausibility check of the clock
// fields. An interface that polls (0x5A) or asks for the clock (0xA5) instead
// is answered, and that answer counts as the interface responding.
QCoro::Task<int> Cm11aControl::open()
{
    const bool recovering = isLost();
    co_await m_line.lock();
    Cm11aLineLock::Held held(m_line);
    if (recovering && !isLost())
        co_return PortUnusable; // the program let go of the port meanwhile
    m_ready = false;
    closePort();
    // The path is looked up afresh each time, never kept resolved: an adapter
    // plugged in again behind the same /dev/serial/by-id link may have a new
    // /dev/ttyUSBn name.
    const QString path = devicePath();
    // Said at debug level only: the owner tries again every few seconds
    // and logs failureText() once per kind of failure.
    if (path.isEmpty()) {
        qCDebug(lcCm11a) << "no device for port" << port();
        setFailureText(QStringLiteral("port %1 names no serial device").arg(port()));
        co_return PortUnusable;
    }
    // Opened by the device's own name, not by a link to it: the port's lock
    // (which keeps out a second opener, root included) is named after it,
    // so two names for one adapter would be two locks.
    const QString device = QFileInfo(path).canonicalFilePath();
    m_serial.setPortName(device.isEmpty() ? path : device);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        // Looking for a lost interface tries every few seconds: not a warning each time.
        if (recovering)
            qCDebug(lcCm11a) << "cannot open" << path << m_serial.errorString();
        else
            qCDebug(lcCm11a) << "cannot open" << path << m_serial.errorString();
        setFailureText(QStringLiteral("%1 cannot be opened: %2").arg(path, m_serial.errorString()));
        co_return PortUnusable;
    }
    const bool configured =
        m_serial.setBaudRate(4800) && m_serial.setDataBits(QSerialPort::Data8) &&
        m_serial.setParity(QSerialPort::NoParity) && m_serial.setStopBits(QSerialPort::OneStop) &&
        m_serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        qCDebug(lcCm11a) << "cannot set 4800 8N1 on" << path << m_serial.errorString();
        setFailureText(
            QStringLiteral("%1 cannot be set to 4800 baud: %2").arg(path, m_serial.errorString()));
        m_serial.close();
        co_return PortUnusable;
    }
    m_lost = false;
    m_serial.clear(); // whatever piled up while nobody listened
    m_inbox.clear();
    m_decoder.reset();

    if (co_await probe()) {
        m_ready = true;
        reportFound();
        co_return Ready;
    }
    const bool lost = m_lost;
    setFailureText(lost ? QStringLiteral("%1 went away while it was being opened").arg(path)
                        : QStringLiteral("no X10 interface answered on %1").arg(path));
    closePort();
    co_return lost ? PortUnusable : NoAnswer;
}

QCoro::Task<bool> Cm11aControl::probe()
{
    for (int tries = 0; tries < 3 && usable(); ++tries) {
        if (!write(oneByte(P::StatusRequest)))
            co_return false;
        const auto first = co_await readByte(StatusTimeoutMs);
        if (!first)
            continue;
        QByteArray reply = oneByte(*first);
        if (*first == P::Poll || *first == P::PowerFail) {
            // A poll is one byte and then silence until the next second; a
            // status reply that merely starts with the same value streams on.
            const auto next = co_await readByteWithin(Clock::instance().interval(QuietMs));
            if (!next) {
                if (*first == P::PowerFail)
                    co_return co_await answerPowerFail();
                co_await servicePoll();
                continue;
            }
            reply.append(static_cast<char>(*next));
        }
        while (reply.size() < P::StatusLength) {
            const auto b = co_await readByte(UploadTimeoutMs);
            if (!b)
                break;
            reply.append(static_cast<char>(*b));
        }
        if (P::isPlausibleStatus(reply)) {
            qCDebug(lcCm11a) << "interface answered the status request:" << reply.toHex(' ');
            co_return true;
        }
        m_inbox.clear(); // out of step: start the next probe clean
    }
    co_return false;
}

QCoro::Task<bool> Cm11aControl::send(QString house, QString unit, int function, double level, int,
                                     int)
{
    const int h = house.trimmed().size() == 1 ? P::houseIndex(house.trimmed().at(0)) : -1;
    bool numeric = false;
    const int u = unit.trimmed().toInt(&numeric);
    const bool knownFunction = function >= 0 && function <= 15 && function != P::Extended &&
                               function != P::ExtendedData; // those need data bytes
    if (h < 0 || !numeric || u < 1 || u > 16 || !knownFunction) {
        qCWarning(lcCm11a) << "refusing command" << house << unit << function;
        setFailureText(QStringLiteral("%1%2 is not an X10 address").arg(house, unit));
        co_return false;
    }
    // Fail at once rather than wait out the timeouts of a port that is gone.
    if (isLost()) {
        setFailureText(lostText());
        co_return false;
    }

    co_await m_line.lock();
    Cm11aLineLock::Held held(m_line);
    bool sent = false;
    bool tried = false;
    if (isLost()) {
        setFailureText(lostText()); // lost while this command waited its turn
    } else {
        tried = true;
        // (GCC 12 mis-compiles co_await inside a short-circuit condition.)
        sent = co_await transmit(P::addressFrame(h, u));
        if (sent)
            sent = co_await transmit(P::functionFrame(h, function, P::dimSteps(level)));
    }
    if (!sent && tried)
        co_await judgeFailedSend();
    co_return sent;
}

// One command that got no answer after all its tries may be noise on the
// line or the interface busy with a long transmission; an interface that
// then also ignores a status request has stopped answering and counts as
// lost, as does a port that went away.
QCoro::Task<> Cm11aControl::judgeFailedSend()
{
    if (m_lost) {
        lose(); // unless the port's error got there first
        setFailureText(QStringLiteral("the serial port of the X10 interface (%1) went away")
                           .arg(devicePath()));
        co_return;
    }
    if (!m_ready) {
        setFailureText(QStringLiteral("the X10 interface is not connected"));
        co_return;
    }
    const bool answers = co_await probe();
    if (answers) {
        setFailureText(QStringLiteral("the X10 interface did not answer"));
        co_return;
    }
    lose();
}

// Header + code, the interface's checksum, our 0x00, its 0x55. Frames are
// built so that their checksum is never 0x55, 0x5A or 0xA5, which makes those
// bytes unambiguous here: a poll or power-fail request that crossed our frame
// is answered and the frame sent again; a stray 0x55 is skipped.
QCoro::Task<bool> Cm11aControl::transmit(const QByteArray& frame)
{
    const quint8 expected = P::checksum(frame);
    int attempts = 0;
    int interruptions = 0;
    int strays = 0;
    while (attempts < MaxAttempts) {
        ++attempts;
        if (!write(frame))
            co_return false;

        bool acknowledged = false;
        bool again = false;
        while (!acknowledged && !again) {
            const auto b = co_await readByte(ChecksumTimeoutMs);
            if (!b) {
                if (!usable())
                    co_return false;
                qCDebug(lcCm11a) << "no checksum, sending again";
                again = true;
            } else if (*b == expected) {
                acknowledged = true;
            } else if (*b == P::Poll || *b == P::PowerFail) {
                if (++interruptions > MaxInterruptions)
                    co_return false;
                --attempts; // a collision is not the frame's fault
                if (*b == P::Poll)
                    co_await servicePoll();
                else
                    co_await answerPowerFail();
                again = true;
            } else if (*b == P::Ready && ++strays <= MaxStrayBytes) {
                continue;
            } else {
                qCDebug(lcCm11a) << "checksum" << Qt::hex << *b << "instead of" << expected;
                again = true;
            }
        }
        if (again)
            continue;

        if (!write(oneByte(P::Ack)))
            co_return false;
        for (;;) {
            const auto b = co_await readByte(ReadyTimeoutMs);
            if (!b) {
                qCWarning(lcCm11a) << (usable() ? "interface never reported ready"
                                                : "interface lost during a command");
                co_return false;
            }
            if (*b == P::Ready)
                co_return true;
            if (*b == P::Poll) {
                // It took the frame and has news: the transmission went out.
                co_await servicePoll();
                co_return true;
            }
            if (*b == P::PowerFail) {
                // It restarted under us; the frame may never have gone out.
                if (++interruptions > MaxInterruptions)
                    co_return false;
                co_await answerPowerFail();
                break;
            }
            if (++strays > MaxStrayBytes)
                co_return false;
        }
    }
    qCWarning(lcCm11a) << "giving up on frame" << frame.toHex(' ') << "after" << attempts
                       << "attempts";
    co_return false;
}

QCoro::Task<> Cm11aControl::servicePoll()
{
    // A second poll right after our answer is a known quirk: answer again.
    for (int round = 0; round < MaxPollAnswers; ++round) {
        // Polls that piled up while we were busy or stalled all ask for the
        // same upload: one answer serves them, and the next byte is its size.
        while (!m_inbox.isEmpty() && static_cast<quint8>(m_inbox.front()) == P::Poll)
            m_inbox.remove(0, 1);
        if (!write(oneByte(P::PollAnswer)))
            co_return;
        const auto size = co_await readByte(UploadTimeoutMs);
        if (!size)
            co_return;
        if (*size == P::Poll)
            continue;
        if (*size == P::PowerFail) {
            co_await answerPowerFail();
            co_return;
        }
        if (*size < 1 || *size > P::MaxUploadSize) {
            qCDebug(lcCm11a) << "upload size" << *size << "out of step; dropped";
            m_inbox.clear();
            co_return;
        }
        QByteArray payload;
        while (payload.size() < *size) {
            const auto b = co_await readByte(UploadTimeoutMs);
            if (!b) {
                qCDebug(lcCm11a) << "upload cut short:" << payload.toHex(' ');
                co_return;
            }
            payload.append(static_cast<char>(*b));
        }
        reportLater(m_decoder.decode(payload));
        co_return;
    }
}

QCoro::Task<bool> Cm11aControl::answerPowerFail()
{
    const QByteArray message = P::setClockMessage(Clock::instance().now());
    const quint8 expected = P::setClockChecksum(message);
    int strays = 0;
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        if (!write(message))
            co_return false;
        bool acknowledged = false;
        bool again = false;
        while (!acknowledged && !again) {
            const auto b = co_await readByte(ChecksumTimeoutMs);
            if (!b) {
                if (!usable())
                    co_return false;
                again = true;
            } else if (*b == expected) {
                acknowledged = true;
            } else if (P::isAmbiguousReply(*b) && ++strays <= MaxStrayBytes) {
                // Requests sent before ours arrived; the checksum is never one of these.
                continue;
            } else {
                again = true;
            }
        }
        if (again)
            continue;
        if (!write(oneByte(P::Ack)))
            co_return false;
        for (;;) {
            const auto b = co_await readByte(ChecksumTimeoutMs);
            if (!b)
                co_return false;
            if (*b == P::Ready) {
                qCDebug(lcCm11a) << "interface clock set after a power failure";
                co_return true;
            }
            if (*b == P::PowerFail || ++strays > MaxStrayBytes)
                break;
        }
    }
    co_return false;
}

void Cm11aControl::reportLater(const QList<Cm11aTraffic>& traffic)
{
    if (traffic.isEmpty())
        return;
    // Receivers run from the event loop, not in the middle of a conversation,
    // so one that sends or closes finds the line in a clean state.
    QMetaObject::invokeMethod(
        this,
        [this, traffic] {
            for (const Cm11aTraffic& t : traffic)
                Q_EMIT this->traffic(t.address, t.house, t.function, t.percent, 0);
        },
        Qt::QueuedConnection);
}

bool Cm11aControl::close()
{
    m_ready = false;
    forgetLost();
    closePort();
    return true;
}

} // namespace casalux
