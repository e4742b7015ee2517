#include "speechcharacter.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace casalux {

std::optional<SpeechCharacter> SpeechCharacter::load(const QStringList& folders,
                                                     const QString& name)
{
    // The name comes from the settings: it must not lead out of the folders.
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/')) ||
        trimmed.contains(QLatin1Char('\\')) || trimmed.startsWith(QLatin1Char('.')))
        return std::nullopt;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(trimmed + QLatin1String(".acs"));
        if (!QFileInfo(path).isFile())
            continue;
        QSettings file(path, QSettings::IniFormat);
        if (file.status() != QSettings::NoError ||
            !file.childGroups().contains(QLatin1String("Character")))
            return std::nullopt;
        file.beginGroup(QStringLiteral("Character"));
        return SpeechCharacter{file.value(QStringLiteral("Name"), trimmed).toString()};
    }
    return std::nullopt;
}

} // namespace casalux
