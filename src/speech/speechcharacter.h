#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace casalux {

// A speech character as described by its file "<name>.acs": a small INI
// text with a [Character] group (Name = the name shown).
struct SpeechCharacter {
    QString name;

    // Looks for "<name>.acs" in each folder in turn. Nothing for a name that
    // is empty or not a plain file name, or a file that is missing or holds
    // no [Character] group.
    static std::optional<SpeechCharacter> load(const QStringList& folders, const QString& name);
};

} // namespace casalux
