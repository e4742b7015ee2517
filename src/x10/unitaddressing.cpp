#include "unitaddressing.h"

#include "cm11aprotocol.h"

namespace casalux {

void UnitAddressing::address(int house, int unit)
{
    const std::size_t h = index(house);
    if (m_functionSeen[h]) {
        m_units[h].clear();
        m_functionSeen[h] = false;
    }
    if (!m_units[h].contains(unit))
        m_units[h].append(unit);
}

void UnitAddressing::functionSent(int house, int function)
{
    const std::size_t h = index(house);
    if (function == Cm11aProtocol::AllUnitsOff)
        m_units[h].clear();
    m_functionSeen[h] = true;
}

void UnitAddressing::clear()
{
    for (auto& units : m_units)
        units.clear();
    m_functionSeen = {};
}

} // namespace casalux
