#include "sayoption.h"

namespace casalux {

SayOption SayOption::parse(const QStringList& args)
{
    SayOption option;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        QString phrase;
        if (arg == QLatin1String("--say")) {
            // The next argument, unless it is another option.
            if (i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1String("--")))
                phrase = args.at(i + 1);
        } else if (arg.startsWith(QLatin1String("--say="))) {
            phrase = arg.mid(6);
        } else {
            continue;
        }
        option.phrase = phrase.simplified();
        option.kind = option.phrase.isEmpty() ? Kind::Missing : Kind::Phrase;
        return option;
    }
    return option;
}

QString SayOption::usage()
{
    return QStringLiteral(
        "usage: casalux [--home DIR]\n"
        "       casalux --say PHRASE    e.g. casalux --say \"Cancel Lounge Lamp\"");
}

} // namespace casalux
