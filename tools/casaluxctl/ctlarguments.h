#pragma once

#include "control/controlprotocol.h"

#include <QString>
#include <QStringList>

namespace casalux {

// The command line: a command, its arguments and the options --json and
// --home DIR (anywhere on the line).
struct CtlArguments {
    ControlProtocol::Request request;
    bool json = false;
    bool help = false;
    QString error; // not empty: a usage error

    static CtlArguments parse(const QStringList& arguments); // without the program name
    static const char* usage();
};

} // namespace casalux
