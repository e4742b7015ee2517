#pragma once

#include "control/controlprotocol.h"

#include <QJsonObject>
#include <QString>
#include <qcoro/qcorotask.h>

namespace casalux {

// One request carried out by the command line itself, when no program
// serves the socket: status and events from the files and settings; a
// device command on the interface at the stored port, opened for this one
// command and closed again. Answers as the server would.
class LocalCommand final {
public:
    static QCoro::Task<QJsonObject> run(QString programFolder, ControlProtocol::Request request);
};

} // namespace casalux
