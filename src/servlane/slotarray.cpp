#include "slotarray.h"

#include <algorithm>

namespace servlane {

void SlotArray::create(int highestIndex)
{
    m_highest = std::max(2, highestIndex);
    m_slots.assign(std::size_t(m_highest) + 1, ConnectionSlot{});
    for (int i = 0; i <= m_highest; ++i)
        m_slots[std::size_t(i)].index = i;
}

ConnectionSlot* SlotArray::at(int index)
{
    if (index < 2 || index > m_highest || std::size_t(index) >= m_slots.size())
        return nullptr;
    return &m_slots[std::size_t(index)];
}

const ConnectionSlot* SlotArray::at(int index) const
{
    if (index < 2 || index > m_highest || std::size_t(index) >= m_slots.size())
        return nullptr;
    return &m_slots[std::size_t(index)];
}

int SlotArray::freeIndex() const
{
    for (int i = 2; i <= m_highest; ++i) {
        if (m_slots[std::size_t(i)].state == SlotState::Closed)
            return i;
    }
    return -1;
}

int SlotArray::freeCount() const
{
    int n = 0;
    for (int i = 2; i <= m_highest; ++i)
        n += m_slots[std::size_t(i)].state == SlotState::Closed;
    return n;
}

ConnectionSlot& SlotArray::take(int index)
{
    ConnectionSlot& s = m_slots[std::size_t(index)];
    s = ConnectionSlot{};
    s.index = index;
    s.generation = ++m_generations;
    setState(s, SlotState::Handling);
    return s;
}

void SlotArray::release(int index)
{
    ConnectionSlot& s = m_slots[std::size_t(index)];
    s = ConnectionSlot{};
    s.index = index;
}

void SlotArray::setState(ConnectionSlot& s, SlotState state)
{
    s.state = state;
    s.stateSince.start();
}

} // namespace servlane
