#include "controlsocketpath.h"

#include "platform/programfolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace casalux {

namespace {

bool trustedOwner(uid_t owner)
{
    if (owner == 0 || owner == ::geteuid())
        return true;
    const passwd* user = ::getpwnam("casalux");
    return user && user->pw_uid == owner;
}

bool trustedGroup(const struct stat& info)
{
    const group* shared = ::getgrnam("casalux");
    if (shared && shared->gr_gid == info.st_gid)
        return true;
    // A user's private group holds only the user.
    const passwd* owner = ::getpwuid(info.st_uid);
    return owner && owner->pw_gid == info.st_gid && info.st_uid != 0;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString ControlSocketPath::nameFor(const QString& programFolder)
{
    const auto realPath = [](const QString& path) {
        const QFileInfo folder(path);
        const QString real = folder.canonicalFilePath();
        return real.isEmpty() ? QDir::cleanPath(folder.absoluteFilePath()) : real;
    };
    const QString real = realPath(programFolder);
    if (real == realPath(ProgramFolder::installedFolder()))
        return QString::fromLatin1(socketName);
    // Short enough for any socket folder (a socket's path has 107 bytes).
    const QByteArray mark =
        QCryptographicHash::hash(QFile::encodeName(real), QCryptographicHash::Sha256)
            .toHex()
            .left(12);
    return QStringLiteral("%1-%2").arg(QLatin1String(socketName), QLatin1String(mark));
}

ControlSocketPath::Choice ControlSocketPath::choose(const QString& programFolder)
{
    const QString name = nameFor(programFolder);
    const QString given = qEnvironmentVariable(environmentName);
    if (!given.isEmpty())
        return {QFileInfo(given).absoluteFilePath(),
                QFileInfo(given).absolutePath() == QLatin1String(sharedFolder)};
    if (QFileInfo(QString::fromLatin1(sharedFolder)).isDir())
        return {QStringLiteral("%1/%2").arg(QLatin1String(sharedFolder), name), true};
    // Cron jobs and services have no XDG_RUNTIME_DIR, yet must find the
    // socket of the user's desktop program: the usual place stands in.
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString usual = QStringLiteral("/run/user/%1").arg(::geteuid());
    if (runtime.isEmpty() && QFileInfo(usual).isDir())
        runtime = usual;
    if (!runtime.isEmpty())
        return {QStringLiteral("%1/casalux/%2").arg(runtime, name), false};
    // Not the temporary folder while there is a home: anyone can make
    // /tmp/casalux-UID first (or a link by that name), and the programs
    // could then not serve. The user's home is theirs alone.
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QFileInfo(home).isDir())
        return {QStringLiteral("%1/.casalux/%2").arg(home, name), false};
    // The sticky temporary folder: nobody else can move our folder there.
    return {QStringLiteral("%1/casalux-%2/%3")
                .arg(QDir::tempPath())
                .arg(::geteuid())
                .arg(name),
            false};
}

QString ControlSocketPath::unsafe(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray folderName = QFile::encodeName(folder);
    struct stat info {};
    if (::lstat(folderName.constData(), &info) != 0)
        return QStringLiteral("%1: %2").arg(folder, systemError());
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (!trustedOwner(info.st_uid))
        return QStringLiteral("%1 belongs to another user").arg(folder);
    if (info.st_mode & S_IWOTH)
        return QStringLiteral("%1 is writable by every user").arg(folder);
    if ((info.st_mode & S_IWGRP) && !trustedGroup(info))
        return QStringLiteral("%1 is writable by a group other than casalux").arg(folder);
    const QByteArray socketName = QFile::encodeName(path);
    struct stat file {};
    if (::lstat(socketName.constData(), &file) == 0) {
        if (!S_ISSOCK(file.st_mode))
            return QStringLiteral("%1 is not a socket").arg(path);
        if (!trustedOwner(file.st_uid))
            return QStringLiteral("%1 belongs to another user").arg(path);
    }
    return {};
}

bool ControlSocketPath::prepareFolder(const QString& path, QString* why)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).absolutePath();
    // Two programs starting together both find no folder; the one that
    // makes it second finds it there, which is as good (its owner and
    // mode are checked before it is used).
    const bool made = QDir().mkpath(parent) &&
                      (::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) == 0 ||
                       (errno == EEXIST && QFileInfo(folder).isDir()));
    if (!made) {
        if (why)
            *why = QStringLiteral("cannot make %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

} // namespace casalux
