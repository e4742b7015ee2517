#include "controlprotocol.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace casalux {

namespace {
struct Name {
    const char* text;
    ControlProtocol::Command command;
};
constexpr Name names[] = {{"on", ControlProtocol::Command::On},
                          {"off", ControlProtocol::Command::Off},
                          {"dim", ControlProtocol::Command::Dim},
                          {"status", ControlProtocol::Command::Status},
                          {"events", ControlProtocol::Command::Events}};
} // namespace

QString ControlProtocol::commandName(Command command)
{
    for (const Name& name : names) {
        if (name.command == command)
            return QString::fromLatin1(name.text);
    }
    return {};
}

std::optional<ControlProtocol::Request> ControlProtocol::parse(QByteArrayView line, QString* error)
{
    const auto fail = [error](const char* why) {
        if (error)
            *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.size() > maxRequest)
        return fail("the request is too long");
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail("the request is not a JSON object");
    const QJsonObject object = document.object();
    const QJsonValue command = object.value(QLatin1String("command"));
    if (!command.isString())
        return fail("the request names no command");
    Request request;
    bool known = false;
    for (const Name& name : names) {
        if (command.toString() == QLatin1String(name.text)) {
            request.command = name.command;
            known = true;
        }
    }
    if (!known)
        return fail("unknown command");
    const QJsonValue home = object.value(QLatin1String("home"));
    if (!home.isUndefined() && !home.isString())
        return fail("the home must be a folder name");
    request.home = home.toString();
    if (request.command == Command::Status || request.command == Command::Events)
        return request;
    const QJsonValue target = object.value(QLatin1String("target"));
    if (!target.isString() || target.toString().trimmed().isEmpty())
        return fail("no device named");
    request.target = target.toString();
    if (request.command == Command::Dim) {
        const QJsonValue percent = object.value(QLatin1String("percent"));
        const double value = percent.toDouble(-1);
        // Range first: a huge number must not reach the int conversion.
        if (!percent.isDouble() || value < 0 || value > 100 || value != std::floor(value))
            return fail("the percent must be a whole number from 0 to 100");
        request.percent = static_cast<int>(value);
    }
    return request;
}

QByteArray ControlProtocol::encode(const Request& request)
{
    QJsonObject object{{QStringLiteral("command"), commandName(request.command)}};
    if (request.command != Command::Status && request.command != Command::Events)
        object.insert(QStringLiteral("target"), request.target);
    if (request.command == Command::Dim)
        object.insert(QStringLiteral("percent"), request.percent);
    if (!request.home.isEmpty())
        object.insert(QStringLiteral("home"), request.home);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray ControlProtocol::queuedNotice()
{
    return QByteArrayLiteral("{\"queued\":true}\n");
}

bool ControlProtocol::isQueuedNotice(QByteArrayView line)
{
    return line.trimmed() == QByteArrayView(queuedNotice()).trimmed();
}

QByteArray ControlProtocol::answer(QJsonObject fields)
{
    if (!fields.contains(QLatin1String("ok")))
        fields.insert(QStringLiteral("ok"), true);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray ControlProtocol::failure(const char* code, const QString& message)
{
    return answer({{QStringLiteral("ok"), false},
                   {QStringLiteral("error"), QString::fromLatin1(code)},
                   {QStringLiteral("message"), message}});
}

} // namespace casalux
