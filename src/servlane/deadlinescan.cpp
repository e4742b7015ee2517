#include "deadlinescan.h"

#include "connectiontable.h"
#include "slotarray.h"

#include <QLoggingCategory>

// The socket layer's category: what the scan closes is its connections.
Q_DECLARE_LOGGING_CATEGORY(lcSockets)

namespace servlane {

namespace {

constexpr int kDeadlineScanMs = 250;

} // namespace

DeadlineScan::DeadlineScan(ConnectionTable& table, SlotArray& slots, const RequestLimits& limits,
                           QObject* parent)
    : QObject(parent), m_table(table), m_slots(slots), m_limits(limits)
{
    m_timer.setInterval(kDeadlineScanMs);
    connect(&m_timer, &QTimer::timeout, this, &DeadlineScan::scan);
}

void DeadlineScan::scan()
{
    using Phase = ClientConnection::Phase;
    for (const quint64 id : m_table.ids()) {
        ClientConnection* c = m_table.find(id);
        if (!c)
            continue;
        switch (c->phase()) {
        case Phase::Reading:
            if ((!c->headComplete && c->age() > m_limits.headTimeoutMs) ||
                c->age() > m_limits.bodyTimeoutMs) {
                qCInfo(lcSockets) << "connection from" << c->address()
                                  << "closed: request not complete in time";
                Q_EMIT connectionExpired(id, false);
            }
            break;
        case Phase::Sending:
            if (!c->pastGrace) {
                if (c->inPhase() >= m_limits.sendGraceMs) {
                    c->pastGrace = true;
                    c->startWindow();
                }
            } else if (c->windowAge() >= m_limits.sendRateWindowMs) {
                if (c->windowProgress() * 1000 < m_limits.minSendBytesPerSecond * c->windowAge()) {
                    qCInfo(lcSockets)
                        << "connection from" << c->address()
                        << "closed: reads its answer too slowly (" << c->windowProgress()
                        << "bytes in" << c->windowAge() << "ms)";
                    Q_EMIT connectionExpired(id, true);
                } else {
                    c->startWindow();
                }
            }
            break;
        case Phase::Lingering:
            if (c->inPhase() > m_limits.lingerMs)
                Q_EMIT connectionExpired(id, false);
            break;
        case Phase::Queued:
        case Phase::InSlot:
            break;
        }
    }
    bool slotsInUse = false;
    for (int i = 2; i <= m_slots.highestIndex(); ++i) {
        ConnectionSlot* s = m_slots.at(i);
        slotsInUse = slotsInUse || s->state != SlotState::Closed;
        switch (s->state) {
        case SlotState::Closed:
        case SlotState::Handling:
            break;
        case SlotState::Trapped:
            if (!s->answerOverdue && s->stateSince.elapsed() > m_limits.hostAnswerTimeoutMs) {
                s->answerOverdue = true;
                Q_EMIT trapExpired(i); // the 503 goes out through send()
            } else if (s->answerOverdue &&
                       s->stateSince.elapsed() >
                           qint64(m_limits.hostAnswerTimeoutMs) + m_limits.owedAnswerTimeoutMs) {
                // No one answered the expiry either.
                Q_EMIT owedAnswerExpired(i);
            }
            break;
        case SlotState::Abandoned:
            if (s->stateSince.elapsed() > m_limits.owedAnswerTimeoutMs) {
                qCInfo(lcSockets) << "slot" << i << "reclaimed: the owed answer never came";
                Q_EMIT slotReclaimed(i);
            }
            break;
        }
    }
    // Nothing left to time: the scan rests until the next client comes, so
    // an idle server does not wake its program four times a second.
    if (m_table.size() == 0 && !slotsInUse)
        m_timer.stop();
}

} // namespace servlane
