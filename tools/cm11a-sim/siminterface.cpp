#include "siminterface.h"

#include "platform/clock.h"
#include "x10/cm11aprotocol.h"

namespace casalux::sim {

using P = casalux::Cm11aProtocol;

namespace {

QByteArray oneByte(quint8 b)
{
    return QByteArray(1, static_cast<char>(b));
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

SimInterface::SimInterface(const SimOptions& options, QObject* parent)
    : QObject(parent), m_options(options)
{
    // The real interface repeats its poll or power-fail request once a second.
    m_pollTimer.setInterval(casalux::Clock::instance().interval(1000));
    connect(&m_pollTimer, &QTimer::timeout, this, &SimInterface::pollTick);
    m_lineTimer.setSingleShot(true);
    connect(&m_lineTimer, &QTimer::timeout, this, &SimInterface::executeFrame);
}

void SimInterface::start()
{
    if (m_options.powerFail)
        requestPowerFail();
}

void SimInterface::send(const QByteArray& bytes)
{
    Q_EMIT trace(QStringLiteral("-> ") + hex(bytes));
    Q_EMIT transmit(bytes);
}

void SimInterface::receive(const QByteArray& bytes)
{
    Q_EMIT trace(QStringLiteral("<- ") + hex(bytes));
    if (m_options.silent)
        return;
    for (char c : bytes)
        handle(static_cast<quint8>(c));
}

void SimInterface::handle(quint8 byte)
{
    switch (m_state) {
    case State::Idle:
        handleIdle(byte);
        return;
    case State::AwaitCode:
        m_code = byte;
        if (!m_pending.isEmpty()) {
            // Something came in from the line meanwhile: the interface
            // answers the PC with its poll and drops the frame.
            m_collideHold = false;
            m_state = State::Idle;
            send(oneByte(P::Poll));
            if (!m_pollTimer.isActive())
                m_pollTimer.start();
            return;
        }
        replyChecksum(
            P::checksum(QByteArray() + static_cast<char>(m_header) + static_cast<char>(m_code)));
        m_state = State::AwaitAck;
        return;
    case State::AwaitAck:
        if (byte == P::Ack) {
            m_state = State::OnTheLine;
            if (m_options.lineDelayMs > 0)
                m_lineTimer.start(casalux::Clock::instance().interval(m_options.lineDelayMs));
            else
                executeFrame();
        } else if (P::isStandardHeader(byte)) {
            // The PC did not like our checksum and sends the frame again.
            m_header = byte;
            m_state = State::AwaitCode;
        } else {
            backToIdle();
        }
        return;
    case State::OnTheLine:
        return; // busy transmitting; the PC waits for 0x55
    case State::ClockBytes:
        m_clockBytes.append(static_cast<char>(byte));
        if (m_clockBytes.size() == P::SetClockLength) {
            replyChecksum(P::setClockChecksum(m_clockBytes));
            m_state = State::AwaitClockAck;
        }
        return;
    case State::AwaitClockAck:
        if (byte == P::Ack) {
            finishClock();
        } else if (byte == P::SetClock) {
            m_clockBytes = oneByte(byte);
            m_state = State::ClockBytes;
        } else {
            backToIdle();
        }
        return;
    }
}

void SimInterface::handleIdle(quint8 byte)
{
    if (byte == P::SetClock) {
        m_clockBytes = oneByte(byte);
        m_state = State::ClockBytes;
        return;
    }
    if (m_powerFail)
        return; // nothing else is accepted until the clock is set
    if (byte == P::StatusRequest) {
        sendStatus();
    } else if (byte == P::PollAnswer) {
        if (!m_pending.isEmpty() && !m_collideHold)
            sendUpload();
    } else if (P::isStandardHeader(byte)) {
        m_header = byte;
        m_state = State::AwaitCode;
    } else {
        Q_EMIT trace(QStringLiteral("ignored byte %1").arg(byte, 2, 16, QLatin1Char('0')));
    }
}

void SimInterface::replyChecksum(quint8 sum)
{
    if (m_options.corruptChecksumOnce) {
        m_options.corruptChecksumOnce = false;
        quint8 wrong = sum ^ 0xFF;
        while (P::isAmbiguousReply(wrong) || wrong == sum)
            ++wrong;
        Q_EMIT trace(QStringLiteral("corrupting checksum %1 to %2")
                         .arg(sum, 2, 16, QLatin1Char('0'))
                         .arg(wrong, 2, 16, QLatin1Char('0')));
        sum = wrong;
    }
    send(oneByte(sum));
}

void SimInterface::executeFrame()
{
    const P::Frame frame = P::decodeFrame(m_header, m_code);
    if (frame.valid && frame.house >= 0) {
        if (!frame.isFunction) {
            m_addressing.address(frame.house, frame.unit);
        } else {
            for (const QString& line : m_line.apply(frame.house, m_addressing.units(frame.house),
                                                    frame.function, frame.steps))
                Q_EMIT executed(line);
            m_addressing.functionSent(frame.house, frame.function);
        }
    }
    send(oneByte(P::Ready));
    backToIdle();
}

void SimInterface::finishClock()
{
    const P::ClockTime c = P::decodeSetClock(m_clockBytes);
    if (c.valid) {
        m_clock = m_clockBytes.mid(1);
        m_monitoredHouse = c.monitoredHouse;
        m_batteryTimer = 0;
        m_powerFail = false;
        Q_EMIT executed(QStringLiteral("CLOCK %1:%2:%3 YEARDAY %4 WEEKDAYS %5 HOUSE %6")
                            .arg(c.hour, 2, 10, QLatin1Char('0'))
                            .arg(c.minute, 2, 10, QLatin1Char('0'))
                            .arg(c.second, 2, 10, QLatin1Char('0'))
                            .arg(c.yearDay)
                            .arg(c.weekdayMask, 2, 16, QLatin1Char('0'))
                            .arg(P::houseLetter(c.monitoredHouse)));
    }
    send(oneByte(P::Ready));
    backToIdle();
}

void SimInterface::sendStatus()
{
    QByteArray s(P::StatusLength, '\0');
    s[0] = static_cast<char>(m_batteryTimer & 0xFF);
    s[1] = static_cast<char>(m_batteryTimer >> 8);
    for (int i = 0; i < 5; ++i)
        s[2 + i] = m_clock[i];
    s[7] = static_cast<char>(P::houseNibble(m_monitoredHouse) << 4 | 0x1); // firmware 1
    quint16 addressed = 0;
    quint16 on = 0;
    quint16 dimmed = 0;
    for (int unit = 1; unit <= 16; ++unit) {
        const quint16 bit = quint16(1u << P::unitNibble(unit));
        if (m_addressing.units(m_monitoredHouse).contains(unit))
            addressed |= bit;
        const PowerLine::Module m = m_line.module(m_monitoredHouse, unit);
        if (m.on)
            on |= bit;
        if (m.on && m.steps < P::MaxDimSteps)
            dimmed |= bit;
    }
    int i = 8;
    for (quint16 v : {addressed, on, dimmed}) {
        s[i++] = static_cast<char>(v & 0xFF);
        s[i++] = static_cast<char>(v >> 8);
    }
    send(s);
}

void SimInterface::inject(int house, int unit, int function, int percent, bool collide)
{
    const int steps = P::dimSteps(percent);
    for (const QString& line : m_line.apply(house, {unit}, function, steps))
        Q_EMIT executed(QStringLiteral("REMOTE ") + line);
    if (!P::isHouseWide(function))
        m_pending.append({false, quint8(P::houseNibble(house) << 4 | P::unitNibble(unit))});
    m_pending.append({true, quint8(P::houseNibble(house) << 4 | function)});
    if (P::takesDimAmount(function))
        m_pending.append({false, quint8(P::dimsFromPercent(percent))});
    m_collideHold = collide;
    if (!collide && !m_pollTimer.isActive()) {
        m_pollTimer.start();
        pollTick();
    }
}

void SimInterface::requestPowerFail()
{
    m_powerFail = true;
    m_pollTimer.start();
    pollTick();
}

void SimInterface::pollTick()
{
    if (m_options.silent)
        return;
    if (m_state != State::Idle)
        return; // the conversation under way finishes first
    if (m_powerFail) {
        send(oneByte(P::PowerFail));
    } else if (!m_pending.isEmpty() && !m_collideHold) {
        send(oneByte(P::Poll));
    } else if (m_pending.isEmpty()) {
        m_pollTimer.stop();
    }
}

void SimInterface::sendUpload()
{
    // At most eight data bytes per upload; the rest goes in the next one.
    const auto count = std::min<qsizetype>(m_pending.size(), 8);
    QByteArray upload;
    quint8 mask = 0;
    QByteArray data;
    for (qsizetype i = 0; i < count; ++i) {
        const Item item = m_pending.takeFirst();
        if (item.isFunction)
            mask |= quint8(1u << i);
        data.append(static_cast<char>(item.byte));
    }
    upload.append(static_cast<char>(data.size() + 1));
    upload.append(static_cast<char>(mask));
    upload.append(data);
    send(upload);
    if (m_pending.isEmpty())
        m_pollTimer.stop();
    else
        QTimer::singleShot(0, this, &SimInterface::pollTick);
}

void SimInterface::backToIdle()
{
    m_state = State::Idle;
    // A poll that waited for this conversation goes out now.
    if ((m_powerFail || (!m_pending.isEmpty() && !m_collideHold)) && !m_options.silent) {
        if (!m_pollTimer.isActive())
            m_pollTimer.start();
        QTimer::singleShot(0, this, &SimInterface::pollTick);
    }
}

} // namespace casalux::sim
