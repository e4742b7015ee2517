#include "powerline.h"

#include "x10/cm11aprotocol.h"

#include <algorithm>

namespace casalux::sim {

using P = casalux::Cm11aProtocol;

int PowerLine::levelPercent(const Module& m)
{
    return m.on ? P::percentFromSteps(m.steps) : 0;
}

QString PowerLine::stateLine(int house, int unit) const
{
    const Module m = module(house, unit);
    return QStringLiteral("%1%2 %3 LEVEL %4")
        .arg(P::houseLetter(house))
        .arg(unit)
        .arg(m.on ? QStringLiteral("ON") : QStringLiteral("OFF"))
        .arg(levelPercent(m));
}

QStringList PowerLine::stateLines() const
{
    QStringList lines;
    for (auto it = m_modules.cbegin(); it != m_modules.cend(); ++it)
        lines.append(stateLine(it.key() / 16, it.key() % 16 + 1));
    return lines;
}

QStringList PowerLine::apply(int house, const QList<int>& units, int function, int steps)
{
    const QString letter(P::houseLetter(house));
    if (P::isHouseWide(function)) {
        for (auto it = m_modules.begin(); it != m_modules.end(); ++it) {
            if (it.key() / 16 != house)
                continue;
            if (function == P::AllLightsOn) {
                it->on = true;
                it->steps = P::MaxDimSteps;
            } else {
                it->on = false;
            }
        }
        return {letter + u' ' + P::functionName(function)};
    }
    if (units.isEmpty())
        return {letter + u' ' + P::functionName(function) + QStringLiteral(" NO-UNIT")};
    QStringList lines;
    for (int unit : units)
        lines.append(applyToUnit(house, unit, function, steps));
    return lines;
}

QString PowerLine::applyToUnit(int house, int unit, int function, int steps)
{
    Module& m = m_modules[key(house, unit)];
    QString what = P::functionName(function);
    switch (function) {
    case P::On:
        m.on = true;
        m.steps = P::MaxDimSteps;
        break;
    case P::Off:
        m.on = false;
        break;
    case P::Dim:
    case P::Bright:
        if (!m.on) {
            m.on = true;
            m.steps = P::MaxDimSteps;
        }
        m.steps =
            std::clamp(m.steps + (function == P::Dim ? -steps : steps), 0, int(P::MaxDimSteps));
        what += QStringLiteral(" %1/%2").arg(steps).arg(P::MaxDimSteps);
        break;
    default:
        break; // status and hail functions change nothing on a lamp module
    }
    return QStringLiteral("%1%2 %3 LEVEL %4")
        .arg(P::houseLetter(house))
        .arg(unit)
        .arg(what)
        .arg(levelPercent(m));
}

} // namespace casalux::sim
