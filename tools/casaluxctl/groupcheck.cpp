#include "groupcheck.h"

#include <QFile>
#include <QFileInfo>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace casalux {

namespace {

QString userName()
{
    const passwd* user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

// The folder's group, or empty when it does not exist.
QString groupOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const group* g = ::getgrgid(info.st_gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(info.st_gid);
}

QString advice(const QString& path, const QString& group)
{
    const QString user = userName();
    return QStringLiteral("cannot use %1: %2 is not in group %3: sudo adduser %2 %3, then log in "
                          "again")
        .arg(path, user, group);
}

} // namespace

QString GroupCheck::blocked(const QString& programFolder, const QString& socketPath, bool write)
{
    const QString socketFolder = QFileInfo(socketPath).absolutePath();
    if (const QString group = groupOf(socketFolder);
        !group.isEmpty() && ::access(QFile::encodeName(socketFolder).constData(), X_OK) != 0)
        return advice(socketFolder, group);
    const int mode = R_OK | X_OK | (write ? W_OK : 0);
    if (const QString group = groupOf(programFolder);
        !group.isEmpty() && ::access(QFile::encodeName(programFolder).constData(), mode) != 0)
        return advice(programFolder, group);
    return {};
}

} // namespace casalux
