#pragma once

#include "filecache.h"
#include "pageprocessor.h"
#include "response.h"

#include <QByteArray>
#include <QString>

namespace servlane {

class FileLookup;
class MimeTable;

// Builds complete responses (header and content) for files of the document
// root and for error pages. What a page needs from its request (variables,
// query values, the host's function answers) comes in through the page
// context, so this class holds no connection state.
class DocumentResponder final {
public:
    struct Settings {
        QString serverSoftware;
        QString hostFolder; // html/errors/ lives here
        bool ssi = false;
        bool functions = false;
        bool verboseErrors = true;
        bool errorFiles = false;
    };

    DocumentResponder(const FileLookup& lookup, const MimeTable& mime);

    void setSettings(const Settings& settings) { m_settings = settings; }
    const Settings& settings() const { return m_settings; }

    // The file with its type; HTML pages get their tags processed. When the
    // file cannot be read, statusCode becomes "500" and the 500 page is
    // returned; `readError` then holds the reason.
    // The content is handed out as the file cache holds it, not copied.
    Response fileResponse(const QString& localPath, QString& statusCode,
                          const PageProcessor::Context& page, QString* readError = nullptr) const;

    // The answer for an error code: the header alone without verbose
    // errors, else the error file or the built-in page (status line 200).
    QByteArray errorResponse(const QString& statusCode, const PageProcessor::Context& page) const;

    // A page with its real status line, for refusals.
    QByteArray refusal(const QString& statusCode) const;

    QString typeOf(const QString& localPath) const;

private:
    QByteArray builtInErrorPage(const QString& statusCode) const;

    const FileLookup& m_lookup;
    const MimeTable& m_mime;
    Settings m_settings;
    mutable FileCache m_files;
};

} // namespace servlane
