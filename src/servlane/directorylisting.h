#pragma once

#include <QDateTime>
#include <QString>

namespace servlane {

class FileLookup;

// The page shown for a folder without an index page when browsing is on.
// It shows only what the server would serve: folders and regular files,
// no private names (FileLookup::isPrivateName), no link that leads outside
// the root or nowhere; and at most kMaxEntries of them, so a huge folder
// cannot make a huge page.
class DirectoryListing final {
public:
    static constexpr int kMaxEntries = 10000;

    // `directory` is a canonical local path inside the root of `lookup`,
    // `urlPath` the request path that named it. The root gets no parent row.
    static QString page(const FileLookup& lookup, const QString& directory, const QString& urlPath,
                        const QString& serverName);

    // "500 bytes", "1.50KB", "5.00MB", "1.00GB" (n bytes, 1024-based).
    static QString sizeText(qint64 bytes);
    static QString dateCell(const QDateTime& lastWrite);
};

} // namespace servlane
