// casaluxctl: switches and reads Casalux devices from scripts and cron.
#include "control/controlsocketpath.h"
#include "controlclient.h"
#include "ctlarguments.h"
#include "groupcheck.h"
#include "localcommand.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "reportprinter.h"
#include "setupcommand.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>

using namespace casalux;

namespace {

void say(const QString& message)
{
    // One line, whatever the message held.
    std::fprintf(stderr, "casaluxctl: %s\n", qPrintable(message.simplified()));
}

int exitStatus(const QJsonObject& answer)
{
    if (answer.value(QLatin1String("ok")).toBool())
        return 0;
    const QString code = answer.value(QLatin1String("error")).toString();
    const QString message = answer.value(QLatin1String("message")).toString();
    say(message.isEmpty() ? QStringLiteral("not carried out (%1)").arg(code) : message);
    return code == QLatin1String(ControlProtocol::usageError) ||
                   code == QLatin1String(ControlProtocol::unknownTarget) ||
                   code == QLatin1String(ControlProtocol::tooLong) ||
                   code == QLatin1String(ControlProtocol::otherHome)
               ? 2
               : 1;
}

QCoro::Task<> run(CtlArguments arguments, QString folder)
{
    const QString path = ControlSocketPath::choose(folder).path;
    const ControlClient::Result asked = co_await ControlClient::ask(path, arguments.request);
    QJsonObject answer;
    switch (asked.reach) {
    case ControlClient::Result::Reach::Failed:
        say(asked.error);
        QCoreApplication::exit(1);
        co_return;
    case ControlClient::Result::Reach::Answered:
        answer = asked.answer;
        break;
    case ControlClient::Result::Reach::NoServer:
        answer = co_await LocalCommand::run(folder, arguments.request);
        if (!asked.error.isEmpty() && arguments.request.command == ControlProtocol::Command::Status)
            answer = ReportPrinter::holderUnknown(answer, asked.error);
        if (!asked.error.isEmpty() && !answer.value(QLatin1String("ok")).toBool())
            answer.insert(QStringLiteral("message"),
                          answer.value(QLatin1String("message")).toString() +
                              QStringLiteral(" (%1)").arg(asked.error));
        break;
    }
    const int status = exitStatus(answer);
    if (status == 0) {
        using Command = ControlProtocol::Command;
        const Command command = arguments.request.command;
        if (command == Command::Status || command == Command::Events) {
            answer.remove(QStringLiteral("ok"));
            const QString text =
                arguments.json
                    ? QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Indented))
                : command == Command::Status ? ReportPrinter::status(answer)
                                             : ReportPrinter::events(answer);
            std::fputs(text.toLocal8Bit().constData(), stdout);
        }
    }
    QCoreApplication::exit(status);
}

// The set-up commands have options of their own; nothing when the line
// names none of them.
std::optional<int> runSetup(const QStringList& args)
{
    QStringList words;
    SetupCommand::Options options;
    QString error;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& word = args[i];
        if (word == QLatin1String("--home"))
            ++i; // taken by ProgramFolder::resolve
        else if (word.startsWith(QLatin1String("--home=")))
            continue;
        else if (word == QLatin1String("--json"))
            options.json = true;
        else if (word == QLatin1String("--password-stdin"))
            options.passwordStdin = true;
        else if (word == QLatin1String("--clear"))
            options.clear = true;
        else if (word.startsWith(QLatin1String("--")) && error.isEmpty())
            error = QStringLiteral("unknown option %1").arg(word);
        else
            words.append(word);
    }
    if (words.isEmpty() || !SetupCommand::handles(words[0]) ||
        args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h")))
        return std::nullopt;
    if (!error.isEmpty()) {
        say(error);
        return 2;
    }
    const QString folder = ProgramFolder::resolve(args, QCoreApplication::applicationDirPath());
    const bool reading =
        (words.size() == 1 && !options.clear) || words[0] == QLatin1String("rooms");
    if (const QString blocked =
            GroupCheck::blocked(folder, ControlSocketPath::choose(folder).path, !reading);
        !blocked.isEmpty()) {
        say(blocked);
        return 2;
    }
    QTimer::singleShot(0, qApp, [folder, words, options] {
        [](QString folder, QStringList words, SetupCommand::Options options) -> QCoro::Task<> {
            const int status = co_await SetupCommand::run(folder, words, options);
            QCoreApplication::exit(status);
        }(folder, words, options);
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[])
{
    ProgramFolder::closeNewFilesToOthers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("casaluxctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CASALUX_VERSION));
    const QStringList args = QCoreApplication::arguments();
    if (const std::optional<int> status = runSetup(args))
        return *status;
    const CtlArguments arguments = CtlArguments::parse(args.mid(1));
    if (arguments.help) {
        std::fputs(CtlArguments::usage(), stdout);
        std::fputs(SetupCommand::usage(), stdout);
        return 0;
    }
    if (!arguments.error.isEmpty()) {
        say(arguments.error);
        return 2;
    }
    if (const QString error = Clock::instance().configureFromEnvironment(); !error.isEmpty()) {
        say(error);
        return 2;
    }
    const QString folder = ProgramFolder::resolve(args, QCoreApplication::applicationDirPath());
    if (const QString blocked = GroupCheck::blocked(folder, ControlSocketPath::choose(folder).path, false);
        !blocked.isEmpty()) {
        say(blocked);
        return 2;
    }
    // A home named on purpose must be the one the serving program runs.
    CtlArguments asked = arguments;
    if (args.mid(1).contains(QLatin1String("--home")) ||
        args.mid(1).indexOf(QRegularExpression(QStringLiteral("^--home="))) >= 0 ||
        !qEnvironmentVariableIsEmpty("CASALUX_HOME"))
        asked.request.home = folder;
    QTimer::singleShot(0, &app, [asked, folder] { run(asked, folder); });
    return app.exec();
}
