#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace servlane {

// Maps a file's extension to its content type from one of three sources:
// the platform's MIME database, a "ext,type" file, or the fixed table built
// into the server. A type that cannot be found is "application/octet-stream".
class MimeTable final {
public:
    enum class Source { MimeDatabase = 0, File = 1, Internal = 2 };

    // Reads the table for `source`; for File, `file` is read line by line.
    void load(Source source, const QString& file = {});

    QString typeForExtension(const QString& extension) const;
    // Extension of a file name: the text after its last ".", or empty.
    static QString extensionOf(const QString& fileName);

    // The built-in table, in order, as "ext,type" entries.
    static const QList<QPair<QString, QString>>& internalTable();

private:
    static QString systemTypeFor(const QString& extension);

    Source m_source = Source::MimeDatabase;
    QList<QPair<QString, QString>> m_entries;
};

} // namespace servlane
