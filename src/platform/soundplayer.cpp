#include "soundplayer.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace casalux {

void CommandSoundPlayer::play(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return;
    static const QString player = [] {
        for (const char* name : {"pw-play", "paplay", "aplay"}) {
            const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
            if (!found.isEmpty())
                return found;
        }
        return QString();
    }();
    if (!player.isEmpty())
        QProcess::startDetached(player, {path});
}

} // namespace casalux
