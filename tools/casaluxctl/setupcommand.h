#pragma once

#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace casalux {

// Setting a home up without a screen: the ports, the login, the hub, the
// city and summer time, the rooms and devices. Each changes the program
// folder's files and settings through the same code as the desktop
// program's windows, with their rules and texts. A running engine takes a
// change up by itself (it watches its folder; pages and lists are read
// afresh for each request).
class SetupCommand final {
public:
    struct Options {
        bool json = false;
        bool passwordStdin = false;
        bool clear = false;
    };

    // Whether the word names one of these commands.
    static bool handles(const QString& command);
    static const char* usage();

    // `words`: the command and its arguments. Returns the exit status: 0
    // done, 2 refused (with the reason on standard error).
    static QCoro::Task<int> run(QString programFolder, QStringList words, Options options);
};

} // namespace casalux
