#pragma once

#include <QString>
#include <QStringList>

namespace casalux {

// `--say PHRASE` (or `--say=PHRASE`) on the command line: a spoken command
// for the running copy instead of a start. Without a phrase it is a usage
// error, not a start of the program.
class SayOption final {
public:
    enum class Kind { Absent, Phrase, Missing };

    // The program's arguments, the program's own name first.
    static SayOption parse(const QStringList& args);
    static QString usage();

    Kind kind = Kind::Absent;
    QString phrase;
};

} // namespace casalux
