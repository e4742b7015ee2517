#include "remoteserver.h"

#include "accesscheck.h"
#include "filelookup.h"
#include "home/devicestatus.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/statussink.h"
#include "samesitecheck.h"
#include "servlane.h"
#include "x10/devicecommands.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QPointer>
#include <optional>

namespace casalux {

namespace {

const QString startRoomText = QStringLiteral("Please Select A Room From The List On The Left");
const QString crossSiteNotice =
    QStringLiteral("Not switched: the command came from a page of another web site.");
const QString floodNotice =
    QStringLiteral("Not switched: too many commands are waiting. Try again in a moment.");

const QString loginFirstNotice = QStringLiteral(
    "Not switched: this Casalux server switches nothing for other machines until a login is "
    "set. On the server, run: casaluxctl login USER");

// Whether a client's address is one of this machine's own (127.0.0.1, ::1
// and the addresses of its interfaces).
bool onThisMachine(const QString& address)
{
    QHostAddress peer(address);
    bool mapped = false;
    if (const quint32 v4 = peer.toIPv4Address(&mapped); mapped)
        peer = QHostAddress(v4);
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.cbegin(), own.cend(),
                       [&peer](const QHostAddress& a) { return a.isEqual(peer); });
}

bool containsWord(const QString& query, const char* word)
{
    return query.contains(QLatin1String(word), Qt::CaseInsensitive);
}

// The level of a dim word ("dim0" to "dim100"), or -1 for any other word.
int levelOf(const QString& word)
{
    if (!word.startsWith(QLatin1String("dim"), Qt::CaseInsensitive) || word.size() < 4 ||
        word.size() > 6)
        return -1;
    bool number = false;
    const int level = word.mid(3).toInt(&number);
    const bool digits = std::all_of(word.cbegin() + 3, word.cend(),
                                    [](QChar c) { return c.isDigit(); });
    return number && digits && level <= 100 ? level : -1;
}

} // namespace

// A device command cut from a query: house~unit~devicekey~word~roomkey[~slot].
struct RemoteServer::Command {
    bool on = false;
    int level = -1; // a dim to this level in percent; -1 a plain switch
    QString house;
    QString unit;
    QString deviceKey;
    QString roomKey;
    QString slot; // Media Center only

    // Nothing when the query has fewer fields than its form needs.
    static std::optional<Command> cut(const QString& query, bool mediaCenter, bool on,
                                      int level = -1)
    {
        const QStringList fields = query.split(QLatin1Char('~'));
        if (fields.size() < (mediaCenter ? 6 : 5))
            return std::nullopt;
        Command c;
        c.on = on;
        c.level = level;
        c.house = fields[0];
        c.unit = fields[1];
        c.deviceKey = fields[2];
        if (mediaCenter) {
            c.roomKey = fields[4];
            c.slot = query.section(QLatin1Char('~'), 5);
        } else {
            c.roomKey = query.section(QLatin1Char('~'), 4);
        }
        return c;
    }
};

RemoteServer::RemoteServer(Parts parts, QObject* parent)
    // No property store: startserver() sets every property the server needs
    // on each start, and the default store (the user's QSettings) would put
    // a settings file into the home of whoever runs the program, the program
    // folder for the engine's service.
    : QObject(parent), m_parts(std::move(parts)), m_switch(m_parts.commands, m_parts.status),
      m_web(std::make_unique<Servlane>(std::unique_ptr<PropertyStore>())),
      m_builder(m_parts.programFolder, m_parts.settings)
{
    m_web->setMaxConnections(maxConnections);
    connect(m_web.get(), &Servlane::FileRequest, this,
            [this](int index, const QString& fileName, const QString& auth) {
                // Runs on by itself while it waits its turn or for a command.
                FileRequest(index, fileName, auth);
            });
}

RemoteServer::~RemoteServer() = default;

QString RemoteServer::loginFile() const
{
    // Looked for on every request; the folder is searched again only when
    // its entries may have changed.
    const QString folder = m_parts.programFolder + QStringLiteral("/html");
    return m_loginName.find(folder, QLatin1String(loginFileName),
                            [&folder] { return searchLoginFile(folder); });
}

QString RemoteServer::searchLoginFile(const QString& folder)
{
    // The server's own look-up, so both agree on which file protects html/;
    // any entry of that name counts (one that is no readable file locks
    // everyone out, as it does for the server).
    const QString entry = servlane::FileLookup::findEntry(folder, QLatin1String(loginFileName));
    return entry.isEmpty() ? QString() : folder + QLatin1Char('/') + entry;
}

void RemoteServer::startserver()
{
    const QString port = m_parts.settings.read(settingkeys::webport);
    const auto configure = [&](const QString& p) {
        m_web->setServerPort(p);
        m_web->setVirtualPath(m_parts.programFolder + QStringLiteral("/html"));
        // The login file is the credential text whenever it exists, also
        // one set while the server runs: a folder without it is open, so
        // this is what the file's presence at start always chose.
        m_web->setAuthenticationSource(Servlane::DirectoryFile);
        m_web->setTrapFileEnable(true);
        m_web->StartServer();
    };
    // The server keeps a listener that cannot bind and tries it again later,
    // so "running" alone would hide a port that is taken: ask whether it
    // actually listens.
    const auto listening = [this] { return m_web->ServerRunning() && m_web->listeningPort() != 0; };
    if (!listening()) {
        if (m_web->ServerRunning())
            m_web->StopServer();
        configure(port);
    }
    if (!listening()) {
        m_web->StopServer();
        m_parts.settings.write(settingkeys::webport, QStringLiteral("8080"));
        configure(QStringLiteral("8080"));
    }
}

void RemoteServer::stopserver()
{
    m_web->StopServer();
}

bool RemoteServer::authorised(const QString& userAuthentication) const
{
    const QString path = loginFile();
    if (path.isEmpty())
        return true;
    const FileStamp stamp = FileStamp::of(path);
    if (!m_loginValid || stamp != m_loginStamp || path != m_loginPath) {
        m_loginPath = path;
        m_loginStamp = stamp;
        m_loginValid = stamp.settled();
        m_loginText = servlane::AccessCheck::readCredentials(path);
    }
    // The server's own check: the credentials must equal a whole entry of
    // the login file.
    return !userAuthentication.isEmpty() &&
           servlane::AccessCheck::credentialsMatch(m_loginText, userAuthentication.toLatin1());
}

// Counts a device command from a page from its asking to its end, and
// marks it served while it has the line; every way out lets go, unless
// the server has gone meanwhile.
class RemoteServer::Serving final {
public:
    explicit Serving(RemoteServer& server) : m_server(&server) { ++server.m_commandsAsked; }
    ~Serving()
    {
        if (!m_server)
            return;
        --m_server->m_commandsAsked;
        if (m_onLine)
            m_server->m_serving = false;
    }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;
    void onLine()
    {
        m_onLine = true;
        m_server->m_serving = true;
    }

private:
    QPointer<RemoteServer> m_server;
    bool m_onLine = false;
};

QString RemoteServer::startPage(Page page) const
{
    QString html;
    const bool mc = page == Page::MediaCenter;
    if (mc) {
        m_builder.loadhtml(html);
        m_builder.loadtree(html);
    } else {
        m_builder.loadnormhtml(html);
        m_builder.loadnormtree(html);
    }
    const QString lastroom = m_parts.settings.read(settingkeys::lastroom);
    if (!lastroom.isEmpty()) {
        if (mc)
            m_builder.loadroom(html, lastroom);
        else
            m_builder.loadnormroom(html, lastroom);
        return html;
    }
    if (mc) {
        for (int i = 1; i <= PageBuilder::deviceSlots; ++i)
            html.replace(PageBuilder::moduleAttribute(i), QString(), Qt::CaseInsensitive);
    }
    html.replace(QStringLiteral("<room>"), startRoomText, Qt::CaseInsensitive);
    for (int i = 0; i < PageBuilder::deviceSlots; ++i) {
        html.replace(QStringLiteral("<dev%1>").arg(i), QStringLiteral("&nbsp"),
                     Qt::CaseInsensitive);
        html.replace(PageBuilder::statePlaceholder(i), QString(), Qt::CaseInsensitive);
    }
    html.replace(PageBuilder::roomKeyPlaceholder(), QString(), Qt::CaseInsensitive);
    return html;
}

QString RemoteServer::roomPage(Page page, const QString& roomKey,
                               const PageBuilder::DeviceNotice& notice, bool remember) const
{
    QString html;
    if (page == Page::MediaCenter) {
        m_builder.loadhtml(html);
        m_builder.loadtree(html);
        m_builder.loadroom(html, roomKey, notice, remember);
    } else {
        m_builder.loadnormhtml(html);
        m_builder.loadnormtree(html);
        m_builder.loadnormroom(html, roomKey, notice);
    }
    return html;
}

QCoro::Task<SwitchResult> RemoteServer::runCommand(const Command& c,
                                                   const SwitchQueue::Turn& turn)
{
    // A link names a device of the home at its own address; anything else
    // (a hand-made query, a link to a device since moved) must neither reach
    // the power line nor write settings under a name it does not address.
    const QString house = c.house.toUpper();
    const int unit = RoomRecord::leadingNumber(c.unit);
    if (house.size() != 1 || house[0] < QLatin1Char('A') || house[0] > QLatin1Char('P') ||
        unit < 1 || unit > 16 || QString::number(unit) != c.unit.trimmed() ||
        !m_builder.hasDevice(c.deviceKey, house, unit))
        co_return SwitchResult::refused(QStringLiteral("no device of the home at that address"));

    // Only a lamp module dims; an appliance module would take a dim for an on.
    if (c.level >= 0 && !m_builder.isDimmable(c.deviceKey))
        co_return SwitchResult::refused(QStringLiteral("the device is not dimmable"));

    const QString unitText = QString::number(unit);
    const bool on = c.level < 0 ? c.on : c.level > 0;
    const int level = c.level < 0 ? 100 : c.level;
    // (Named: GCC 12 can destroy a temporary of a co_await expression twice.)
    const QStringList keys{c.deviceKey};
    const SwitchResult result = co_await m_switch.switchTo(turn, house, unitText, on, level, keys);
    co_return result;
}

QString RemoteServer::withNotice(QString html, const QString& notice, bool live)
{
    // The notice of the moment carries the id an open page's script keeps
    // up to date, so it goes when the interface is found again.
    const QString banner =
        QStringLiteral("<p class=\"notice\"%1 style=\"background:#b03a2e;color:#fff;"
                       "padding:8px;margin:0\">")
            .arg(live ? QStringLiteral(" id=\"livenotice\" role=\"status\"") : QString()) +
        notice.toHtmlEscaped() + QStringLiteral("</p>");
    // Right after the opening body tag, or at the very top of a page without one.
    const qsizetype body = html.indexOf(QLatin1String("<body"), 0, Qt::CaseInsensitive);
    const qsizetype end = body < 0 ? -1 : html.indexOf(QLatin1Char('>'), body);
    html.insert(end < 0 ? 0 : end + 1, banner);
    return html;
}

RemoteServer::Page RemoteServer::pageNamed(const QString& fileName)
{
    // The two pages sit at the top of the html folder. A name is one of them
    // when it names that file: one segment after the leading separators
    // (a backslash counts as "/"), letter case aside. Anything else, a separator
    // after the name included, is left to the server, which decides what
    // the name resolves to and which login guards it.
    QString name = fileName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    qsizetype first = 0;
    while (first < name.size() && name[first] == QLatin1Char('/'))
        ++first;
    name = name.mid(first);
    if (name.compare(QLatin1String("wmcindex.html"), Qt::CaseInsensitive) == 0)
        return Page::MediaCenter;
    if (name.compare(QLatin1String("index.html"), Qt::CaseInsensitive) == 0)
        return Page::Standard;
    if (name.compare(QLatin1String(statesName), Qt::CaseInsensitive) == 0)
        return Page::States;
    return Page::None;
}

QCoro::Task<> RemoteServer::FileRequest(int index, QString fileName, QString userAuthentication)
{
    QPointer<RemoteServer> self(this);
    // The slot number comes back to another client once this one is done
    // with: every answer is checked against the request it belongs to.
    const quint64 request = m_web->RequestId(index);
    // Names in the pages' links are percent-encoded Latin-1 (a browser also
    // encodes a link's query in the page's character set).
    const QString query = QString::fromLatin1(
        QByteArray::fromPercentEncoding(m_web->QueryString(index, QString()).toLatin1()));
    Page page = pageNamed(fileName);
    if (query.isEmpty() && fileName.isEmpty())
        page = Page::MediaCenter;

    // Each form has its word in a place of its own: a room or device name
    // that contains one of the words is only a name.
    const QString action = query.section(QLatin1Char('~'), 3, 3);
    const int dimLevel = levelOf(action);
    const bool on = action.compare(QLatin1String("turnon"), Qt::CaseInsensitive) == 0 ||
                    dimLevel >= 0;
    const bool off = action.compare(QLatin1String("turnoff"), Qt::CaseInsensitive) == 0;
    const bool load =
        !on && !off && query.startsWith(QLatin1String("loadroom"), Qt::CaseInsensitive);
    // A word out of its place is a broken link, answered like a command
    // whose fields cannot be cut.
    const bool broken = !on && !off && !load &&
                        (containsWord(query, "loadroom") || containsWord(query, "turnon") ||
                         containsWord(query, "turnoff"));
    if (page == Page::States) {
        if (!authorised(userAuthentication))
            answer(index, request, QString(), true);
        else
            answerStates(index, request, query);
        co_return;
    }
    const bool pages = page != Page::None && (query.isEmpty() || load || on || off || broken);

    // Pictures and files never wait for the pages.
    if (!pages) {
        answer(index, request, QString(), true);
        co_return;
    }
    if (!authorised(userAuthentication)) {
        // Handed back, the server answers 401 with its realm, exactly as it
        // does for any protected file.
        answer(index, request, QString(), true);
        co_return;
    }

    const bool headOnly =
        m_web->CGIValue(index, QStringLiteral("REQUEST_METHOD")) == QLatin1String("HEAD");
    const bool foreign = (on || off) && !headOnly && !sameSite(index);
    const bool flood =
        (on || off) && !headOnly && !foreign && m_commandsAsked >= maxWaitingCommands;
    // Only device commands wait for the line, in the order they came with
    // those of the rest of the program. A page that switches nothing waits
    // at most for the command on the line when it came, so that it shows
    // its result.
    const bool command = (on || off) && !headOnly && !foreign && !flood;
    std::optional<Serving> serving;
    SwitchQueue::Turn turn;
    if (command) {
        serving.emplace(*this);
        SwitchQueue::Taken taken = co_await m_parts.commands.queue().take();
        if (!self)
            co_return;
        if (!taken.turn.holds()) {
            answer(index, request, QString(), false);
            co_return;
        }
        turn = std::move(taken.turn);
        serving->onLine();
        if (!m_web->RequestWaiting(index, request)) {
            // Its client left while it waited: nothing is built or switched.
            answer(index, request, QString(), false);
            co_return;
        }
    } else if (!foreign && !flood) {
        // (A refused command shows only its notice: nothing to wait for.)
        co_await m_parts.commands.queue().turnPassed();
        if (!self)
            co_return;
        if (!m_web->RequestWaiting(index, request)) {
            answer(index, request, QString(), false);
            co_return;
        }
    }

    QString html;
    QString shown; // the notice already on the page
    const QString network = networkNotice(index);
    if (query.isEmpty() || broken) {
        html = startPage(page);
    } else if (load) {
        html = roomPage(page, query.mid(QLatin1String("loadroom").size()), {}, !headOnly);
    } else if (headOnly) {
        // HEAD changes nothing anywhere: the headers of the page as it is.
        const auto command = Command::cut(query, page == Page::MediaCenter, on, dimLevel);
        html = command ? roomPage(page, command->roomKey, {}, false) : startPage(page);
    } else if (const QString notice = !network.isEmpty() ? network
                                      : foreign          ? crossSiteNotice
                                      : flood            ? floodNotice
                                      : m_gate           ? m_gate()
                                                         : QString();
               !notice.isEmpty()) {
        const auto command = Command::cut(query, page == Page::MediaCenter, on, dimLevel);
        html = withNotice(command ? roomPage(page, command->roomKey) : startPage(page), notice);
        shown = notice;
    } else {
        const auto command = Command::cut(query, page == Page::MediaCenter, on, dimLevel);
        // (GCC 12 mis-compiles co_await inside a short-circuit condition.)
        SwitchResult result = SwitchResult::refused({});
        if (command)
            result = co_await runCommand(*command, turn);
        if (!self)
            co_return;
        if (result.outcome() == SwitchResult::Outcome::Refused) {
            html = startPage(page);
        } else if (result.outcome() == SwitchResult::Outcome::NotSent) {
            // The picture stays as it was, with the reason beside it.
            html = roomPage(page, command->roomKey,
                            {command->deviceKey, QStringLiteral("Not switched: ") + result.why() +
                                                     QLatin1Char('.')});
        } else {
            if (page == Page::MediaCenter) {
                m_parts.settings.write(settingkeys::lastdev,
                                 QString::number(RoomRecord::leadingNumber(command->slot) + 1));
            } else if (m_parts.commands.policy().statusTexts) {
                m_parts.statusBar.setStatus(
                    StatusSink::Activity,
                    QStringLiteral("Internet Turned %1 device with housecode %2%3 at %4")
                        .arg(on && command->level != 0 ? QStringLiteral("ON")
                                                       : QStringLiteral("OFF"),
                             command->house.toUpper(), command->unit,
                             Clock::instance().now().toString(QStringLiteral("HH:mm:ss"))));
            }
            html = roomPage(page, command->roomKey);
        }
    }
    if (!self)
        co_return;
    if (const QString notice = m_pageNotice ? m_pageNotice() : QString();
        !notice.isEmpty() && notice != shown)
        html = withNotice(html, notice, true);
    if (!network.isEmpty() && network != shown)
        html = withNotice(html, network);
    answer(index, request, html, false);
}

QString RemoteServer::networkNotice(int index) const
{
    if (!m_loginBeforeNetwork || loginSet() ||
        onThisMachine(m_web->CGIValue(index, QStringLiteral("REMOTE_ADDR"))))
        return {};
    return loginFirstNotice;
}

bool RemoteServer::sameSite(int index) const
{
    const auto header = [&](const char* name) {
        return m_web->HTTPHeader(index, QLatin1String(name));
    };
    return SameSiteCheck::allows(
        {header("Host"), header("Origin"), header("Referer"), header("Sec-Fetch-Site")});
}

void RemoteServer::answerStates(int index, quint64 request, const QString& roomKey)
{
    // What an open page shows, as JSON. The validator is the document's own
    // digest, so a change recorded by any path (or by the other program,
    // through the settings file) shows, and an unchanged home costs a 304.
    QJsonArray devices;
    const QList<PageBuilder::DeviceState> states = m_builder.roomStates(roomKey);
    for (const PageBuilder::DeviceState& state : states) {
        devices.append(QJsonObject{
            {QStringLiteral("head"), state.head},
            {QStringLiteral("name"), state.name},
            {QStringLiteral("on"), state.on},
            {QStringLiteral("level"), state.level},
            {QStringLiteral("dimmable"), state.dimmable},
            {QStringLiteral("picture"), state.picture},
            {QStringLiteral("text"), PageBuilder::stateText(state.on, state.level, state.dimmable)},
        });
    }
    QString notice = m_pageNotice ? m_pageNotice() : QString();
    if (notice.isEmpty() && m_gate)
        notice = m_gate();
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("notice"), notice},
                                  {QStringLiteral("devices"), devices}})
            .toJson(QJsonDocument::Compact);
    const QString tag =
        QLatin1Char('"') +
        QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex().left(20)) +
        QLatin1Char('"');
    const QString head =
        QStringLiteral("ETag: %1\r\nCache-Control: no-cache").arg(tag);
    if (m_web->RequestId(index) != request)
        return;
    if (m_web->HTTPHeader(index, QStringLiteral("If-None-Match")).trimmed() == tag)
        m_web->TrapFileDataEX(index, QString(), false, QStringLiteral("application/json"),
                              QStringLiteral("304"), head);
    else
        // The server sends the text's characters as bytes: the UTF-8 as Latin-1.
        m_web->TrapFileDataEX(index, QString::fromLatin1(body), false,
                              QStringLiteral("application/json; charset=utf-8"),
                              QStringLiteral("200"), head);
}

void RemoteServer::answer(int index, quint64 request, const QString& html, bool handBack)
{
    // Only the request that was asked; a client that has left gets nothing
    // (the answer just frees its slot).
    if (m_web->RequestId(index) == request)
        m_web->TrapFileData(index, html, handBack && m_web->RequestWaiting(index, request));
}

} // namespace casalux
