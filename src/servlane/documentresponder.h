#pragma once

#include "filecache.h"
#include "httpstatus.h"
#include "pageprocessor.h"
#include "response.h"

#include <QByteArray>
#include <QString>

namespace servlane {

class FileLookup;
class MimeTable;

// Builds complete responses (header and content) for files of the document
// root. What a page needs from its request (variables, query values, the
// host's function answers) comes in through the page context, so this class
// holds no connection state.
class DocumentResponder final {
public:
    struct Settings {
        QString serverSoftware;
        bool ssi = false;
        bool functions = false;
    };

    DocumentResponder(const FileLookup& lookup, const MimeTable& mime);

    void setSettings(const Settings& settings) { m_settings = settings; }

    // The file with its type, under `status`; HTML pages get their tags
    // processed. When the file cannot be read, `status` becomes 500, nothing
    // is returned and `readError` holds the reason.
    // The content is handed out as the file cache holds it, not copied.
    // `look`: what stat said of the path in this same turn, if it was asked.
    Response fileResponse(const QString& localPath, HttpStatus& status,
                          const PageProcessor::Context& page, QString* readError = nullptr,
                          const FileCache::Look* look = nullptr) const;

    QString typeOf(const QString& localPath) const;

private:
    const FileLookup& m_lookup;
    const MimeTable& m_mime;
    Settings m_settings;
    mutable FileCache m_files;
};

} // namespace servlane
