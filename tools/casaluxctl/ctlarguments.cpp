#include "ctlarguments.h"

namespace casalux {

const char* CtlArguments::usage()
{
    return "Usage: casaluxctl [--home DIR] on|off TARGET\n"
           "       casaluxctl [--home DIR] dim TARGET PERCENT\n"
           "       casaluxctl [--home DIR] status [--json]\n"
           "       casaluxctl [--home DIR] events [--json]\n"
           "TARGET is a device by room and name (\"Lounge Lamp\") or an address (A3).\n"
           "Exit status: 0 carried out, 1 the interface did not carry it out,\n"
           "2 usage error or unknown device.\n";
}

CtlArguments CtlArguments::parse(const QStringList& arguments)
{
    CtlArguments parsed;
    QStringList words;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == QLatin1String("--json")) {
            parsed.json = true;
        } else if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            parsed.help = true;
        } else if (word == QLatin1String("--home")) {
            ++i; // the folder is taken by ProgramFolder::resolve
            if (i >= arguments.size())
                parsed.error = QStringLiteral("--home needs a folder");
        } else if (word.startsWith(QLatin1String("--home="))) {
        } else if (word.startsWith(QLatin1String("--"))) {
            parsed.error = QStringLiteral("unknown option %1").arg(word);
        } else {
            words.append(word);
        }
    }
    if (parsed.help || !parsed.error.isEmpty())
        return parsed;
    if (words.isEmpty()) {
        parsed.error = QStringLiteral("no command given");
        return parsed;
    }
    using Command = ControlProtocol::Command;
    const QString command = words.takeFirst();
    ControlProtocol::Request& request = parsed.request;
    const auto count = [&](qsizetype wanted, const char* shape) {
        if (words.size() == wanted)
            return true;
        parsed.error = QStringLiteral("usage: casaluxctl %1").arg(QLatin1String(shape));
        return false;
    };
    if (command == QLatin1String("on") || command == QLatin1String("off")) {
        request.command = command == QLatin1String("on") ? Command::On : Command::Off;
        if (count(1, "on|off TARGET"))
            request.target = words[0];
    } else if (command == QLatin1String("dim")) {
        request.command = Command::Dim;
        if (!count(2, "dim TARGET PERCENT"))
            return parsed;
        request.target = words[0];
        bool ok = false;
        QString text = words[1];
        if (text.endsWith(QLatin1Char('%')))
            text.chop(1);
        request.percent = text.toInt(&ok);
        if (!ok || request.percent < 0 || request.percent > 100)
            parsed.error = QStringLiteral("the percent must be a whole number from 0 to 100, not "
                                          "\"%1\"")
                               .arg(words[1]);
    } else if (command == QLatin1String("status") || command == QLatin1String("events")) {
        request.command = command == QLatin1String("status") ? Command::Status : Command::Events;
        count(0, command == QLatin1String("status") ? "status [--json]" : "events [--json]");
    } else {
        parsed.error = QStringLiteral("unknown command \"%1\"").arg(command);
    }
    if (parsed.error.isEmpty() && !request.target.isNull() && request.target.trimmed().isEmpty())
        parsed.error = QStringLiteral("no device named");
    return parsed;
}

} // namespace casalux
