#pragma once

#include <QDateTime>
#include <QString>

namespace servlane {

// The page shown for a folder without an index page when browsing is on.
class DirectoryListing final {
public:
    // `directory` is a canonical local path, `urlPath` the request path that
    // named it, `atRoot` true for the document root (no parent row).
    static QString page(const QString& directory, const QString& urlPath, const QString& serverName,
                        bool atRoot);

    // "500 bytes", "1.50KB", "5.00MB", "1.00GB" (n bytes, 1024-based).
    static QString sizeText(qint64 bytes);
    static QString dateCell(const QDateTime& lastWrite);
};

} // namespace servlane
