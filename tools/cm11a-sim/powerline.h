#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace casalux::sim {

// The modules on the simulated power line: one lamp module per address that
// has ever been commanded, with its on/off state and brightness in dim
// steps (0..22, the resolution the interface sends). Like most lamp modules,
// On goes to full brightness, and Dim or Bright on a module that is off
// first switches it on at full.
class PowerLine final {
public:
    struct Module {
        bool on = false;
        int steps = 0; // brightness while on
    };

    // Applies a function to the given units of one house and returns one log
    // line per unit (or one for a house-wide function), e.g.
    //   "A3 ON LEVEL 100", "A3 DIM 15/22 LEVEL 32", "A ALL-UNITS-OFF".
    QStringList apply(int house, const QList<int>& units, int function, int steps);

    Module module(int house, int unit) const { return m_modules.value(key(house, unit)); }
    // "A3 ON LEVEL 32" / "A3 OFF LEVEL 0"
    QString stateLine(int house, int unit) const;
    QStringList stateLines() const;
    static int levelPercent(const Module& m);

private:
    static int key(int house, int unit) { return house * 16 + (unit - 1); }
    QString applyToUnit(int house, int unit, int function, int steps);

    QMap<int, Module> m_modules;
};

} // namespace casalux::sim
