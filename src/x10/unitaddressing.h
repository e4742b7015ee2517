#pragma once

#include <QList>

#include <array>

namespace casalux {

// Which units of each house code are addressed, as the modules on the power
// line keep it: addresses add up until a function is sent on that house;
// the next address after a function starts a new set; All Units Off leaves
// no unit of its house addressed.
class UnitAddressing final {
public:
    void address(int house, int unit);
    const QList<int>& units(int house) const { return m_units[index(house)]; }
    // A function went out on `house` (after it was applied to units()).
    void functionSent(int house, int function);
    void clear();

private:
    static std::size_t index(int house) { return static_cast<std::size_t>(house & 0xF); }

    std::array<QList<int>, 16> m_units;
    std::array<bool, 16> m_functionSeen{};
};

} // namespace casalux
