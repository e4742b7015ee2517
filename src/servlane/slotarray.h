#pragma once

#include "connectionslot.h"

#include <vector>

namespace servlane {

// The host slots 2..N as the host sees them through an Index. Slots 0 and 1
// exist only so an index is its position.
class SlotArray final {
public:
    // Slots 2..highestIndex, all free.
    void create(int highestIndex);
    int highestIndex() const { return m_highest; }
    ConnectionSlot* at(int index);
    const ConnectionSlot* at(int index) const;

    // The lowest free index, -1 when every slot is taken.
    int freeIndex() const;
    int freeCount() const;
    // Hands the slot to a new request: fresh record, next generation.
    ConnectionSlot& take(int index);
    // Makes the slot free; its generation is not given out again.
    void release(int index);
    void setState(ConnectionSlot& s, SlotState state);

private:
    int m_highest = 0;
    std::vector<ConnectionSlot> m_slots;
    quint64 m_generations = 0;
};

} // namespace servlane
