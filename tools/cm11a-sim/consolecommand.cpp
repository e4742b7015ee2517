#include "consolecommand.h"

#include "x10/cm11aprotocol.h"

#include <QRegularExpression>
#include <QStringList>

namespace casalux::sim {

using P = casalux::Cm11aProtocol;

namespace {

ConsoleCommand invalid(const QString& why)
{
    ConsoleCommand c;
    c.error = why;
    return c;
}

// "A3" → house 0, unit 3; "A" → house 0, unit 0 (when allowed).
bool parseAddress(const QString& text, bool unitRequired, int& house, int& unit)
{
    static const QRegularExpression re(QStringLiteral("^([A-P])([1-9]|1[0-6])?$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return false;
    house = P::houseIndex(m.captured(1).at(0));
    unit = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    return unit > 0 || !unitRequired;
}

} // namespace

ConsoleCommand ConsoleCommand::parse(const QString& line)
{
    QStringList words = line.trimmed().toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ConsoleCommand c;
    if (words.isEmpty()) {
        c.kind = Kind::Empty;
        return c;
    }
    const QString first = words.takeFirst();
    if (first == QLatin1String("QUIT") || first == QLatin1String("EXIT")) {
        c.kind = Kind::Quit;
        return words.isEmpty() ? c : invalid(QStringLiteral("QUIT takes nothing"));
    }
    if (first == QLatin1String("HELP")) {
        c.kind = Kind::Help;
        return c;
    }
    if (first == QLatin1String("POWERFAIL")) {
        c.kind = Kind::PowerFail;
        return words.isEmpty() ? c : invalid(QStringLiteral("POWERFAIL takes nothing"));
    }
    if (first == QLatin1String("STATUS")) {
        c.kind = Kind::Status;
        if (words.isEmpty())
            return c;
        if (words.size() != 1 || !parseAddress(words[0], true, c.house, c.unit))
            return invalid(QStringLiteral("STATUS takes an address such as A3"));
        return c;
    }

    QString addressText = first;
    if (first == QLatin1String("COLLIDE")) {
        if (words.isEmpty())
            return invalid(QStringLiteral("COLLIDE takes a command such as A2 ON"));
        c.collide = true;
        addressText = words.takeFirst();
    }
    if (!parseAddress(addressText, false, c.house, c.unit))
        return invalid(QStringLiteral("unknown command or address \"%1\"").arg(addressText));
    if (words.isEmpty())
        return invalid(QStringLiteral("missing function after %1").arg(addressText));
    const QString function = words.takeFirst();
    c.function = -1;
    for (const int code : {P::On, P::Off, P::Dim, P::Bright, P::AllUnitsOff, P::AllLightsOn,
                           P::AllLightsOff}) {
        if (function == P::functionName(code))
            c.function = code;
    }
    if (c.function < 0)
        return invalid(QStringLiteral("unknown function \"%1\"").arg(function));
    if (P::isHouseWide(c.function) != (c.unit == 0))
        return invalid(P::isHouseWide(c.function)
                           ? QStringLiteral("%1 takes a house letter only").arg(function)
                           : QStringLiteral("%1 needs a unit, e.g. A3").arg(function));
    if (P::takesDimAmount(c.function)) {
        bool ok = false;
        c.percent = words.isEmpty() ? -1 : words.takeFirst().toInt(&ok);
        if (!ok || c.percent < 0 || c.percent > 100)
            return invalid(QStringLiteral("%1 needs an amount 0..100 (percent)").arg(function));
    }
    if (!words.isEmpty())
        return invalid(QStringLiteral("unexpected \"%1\"").arg(words.join(QLatin1Char(' '))));
    c.kind = Kind::Traffic;
    return c;
}

QString ConsoleCommand::help()
{
    return QStringLiteral(
        "Commands (one a line, any case):\n"
        "  A3 ON | A3 OFF            switch or remote traffic on the line\n"
        "  A1 DIM 30 | A1 BRIGHT 40  dim/brighten by a percentage of the full range\n"
        "  A ALL-UNITS-OFF | A ALL-LIGHTS-ON | A ALL-LIGHTS-OFF\n"
        "  COLLIDE A2 ON             the same, crossing the PC's next transmission\n"
        "  STATUS [A3]               print module states as STATE lines\n"
        "  POWERFAIL                 ask for the clock (0xA5) until the PC sets it\n"
        "  HELP | QUIT\n");
}

} // namespace casalux::sim
