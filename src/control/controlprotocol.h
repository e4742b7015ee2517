#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace casalux {

// One request line, one answer line, each a JSON object ended by "\n":
//
//     {"command":"dim","target":"Lounge Lamp","percent":30}
//     {"ok":true}   or   {"ok":false,"error":"unknown-target","message":"..."}
//
// Pure functions over bytes; the sockets are the server's and the client's.
class ControlProtocol final {
public:
    // A request line longer than this is refused unread: room names and
    // device names are short, so 4 KiB is far above any real request.
    static constexpr qsizetype maxRequest = 4096;

    enum class Command { On, Off, Dim, Status, Events };

    struct Request {
        Command command = Command::Status;
        QString target;  // on, off, dim
        int percent = 0; // dim: 0..100
        // The program folder the caller means, when it named one; a
        // program serving another home refuses the request.
        QString home;
    };

    // The error codes of an answer; the command line's exit status follows
    // from them (usage, unknown-target, too-long and other-home: 2, the
    // others: 1).
    static constexpr const char* usageError = "usage";
    static constexpr const char* unknownTarget = "unknown-target";
    static constexpr const char* notSent = "not-sent";
    static constexpr const char* refused = "refused";
    static constexpr const char* tooLong = "too-long";
    static constexpr const char* timedOut = "timeout";
    static constexpr const char* busy = "busy";
    static constexpr const char* otherHome = "other-home";

    // The request in a line (without or with its "\n"), or nothing with
    // `error` saying what is wrong.
    static std::optional<Request> parse(QByteArrayView line, QString* error);
    static QByteArray encode(const Request& request);

    // Sent, before the answer, every few seconds while a command waits its
    // turn or is under way: the client keeps waiting while it hears it.
    static constexpr int queuedNoticeMs = 10'000;
    // A command that has not started this long after it was asked is
    // refused when its turn comes (a full queue on a slow line takes less).
    static constexpr int startDeadlineMs = 300'000;
    static QByteArray queuedNotice();
    static bool isQueuedNotice(QByteArrayView line);

    static QByteArray answer(QJsonObject fields);
    static QByteArray failure(const char* code, const QString& message);

    static QString commandName(Command command);
};

} // namespace casalux
