#pragma once

#include "requestlimits.h"

#include <QObject>
#include <QTimer>

namespace servlane {

class ConnectionTable;
class SlotArray;

// Times the socket layer's connections and host slots against the request
// limits, four times a second while there is anything to time. It judges;
// the socket layer acts on each verdict as it is reported, before the scan
// goes on, so a connection closed or a slot freed is seen as such by the
// rest of the same scan.
class DeadlineScan final : public QObject {
    Q_OBJECT

public:
    DeadlineScan(ConnectionTable& table, SlotArray& slots, const RequestLimits& limits,
                 QObject* parent = nullptr);

    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    bool isActive() const { return m_timer.isActive(); }

    // One pass over every connection, then every slot.
    void scan();

Q_SIGNALS:
    // The connection is to be closed; `abort`: with a reset.
    void connectionExpired(quint64 id, bool abort);
    // The host did not answer in time: its client is owed a 503.
    void trapExpired(int index);
    // No answer came for the slot, not even to the expiry: its connection
    // (if any) is reset and the slot freed.
    void owedAnswerExpired(int index);
    // The answer a slot was kept for never came: the slot is freed.
    void slotReclaimed(int index);

private:
    ConnectionTable& m_table;
    SlotArray& m_slots;
    const RequestLimits& m_limits;
    QTimer m_timer;
};

} // namespace servlane
