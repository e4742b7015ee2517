#pragma once

#include "control/controlprotocol.h"

#include <QJsonObject>
#include <QString>
#include <qcoro/qcorotask.h>

namespace casalux {

// Asks the program that serves the control socket.
class ControlClient final {
public:
    static constexpr int connectTimeoutMs = 2000;
    // Silence this long (clock time) ends the wait. A program speaks every
    // few seconds while the command waits its turn, however long that is.
    static constexpr int answerTimeoutMs = 120'000;

    struct Result {
        enum class Reach {
            Answered, // `answer` holds the program's answer
            NoServer, // nobody serves the socket: the command line may act itself
            Failed,   // a program is there but did not answer; `error` says why
        };
        Reach reach = Reach::NoServer;
        QJsonObject answer;
        QString error;
    };

    static QCoro::Task<Result> ask(QString path, ControlProtocol::Request request);
};

} // namespace casalux
