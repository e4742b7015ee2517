#include "programfolder.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace casalux {

QString ProgramFolder::resolve(const QStringList& args, const QString& executableDir)
{
    QString chosen;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--home") && i + 1 < args.size())
            chosen = args[i + 1];
        else if (args[i].startsWith(QLatin1String("--home=")))
            chosen = args[i].mid(7);
    }
    if (chosen.isEmpty())
        chosen = qEnvironmentVariable("CASALUX_HOME");
    // Beside an installed program (/usr/bin) nothing is writable; its home
    // is the shared folder the package made.
    if (chosen.isEmpty())
        chosen = QDir::cleanPath(executableDir) == QLatin1String(CASALUX_INSTALL_BINDIR)
                     ? installedFolder()
                     : executableDir;
    return QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
}

QString ProgramFolder::installedFolder()
{
    return QStringLiteral(CASALUX_STATE_DIR);
}

QString ProgramFolder::file(const QString& folder, const QString& name)
{
    return folder + QLatin1Char('/') + name;
}

void ProgramFolder::closeNewFilesToOthers()
{
    ::umask(0007);
}

} // namespace casalux
