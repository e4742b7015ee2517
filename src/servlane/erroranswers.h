#pragma once

#include "httpstatus.h"
#include "pageprocessor.h"
#include "response.h"

#include <QByteArray>
#include <QString>

namespace servlane {

class DocumentResponder;

// Every error answer the server sends is built here: the page for a status
// code (the error file or the built-in page, or the bare header when
// verbose errors are off) and the login challenge. Each goes out with its
// real status line.
class ErrorAnswers final {
public:
    struct Settings {
        QString serverSoftware;
        QString hostFolder; // html/errors/ lives here
        bool verboseErrors = true;
        bool errorFiles = false;
    };

    explicit ErrorAnswers(const DocumentResponder& responder);

    void setSettings(const Settings& settings) { m_settings = settings; }

    // The answer for an error status. `page` serves the tags of an error file.
    Response answer(const HttpStatus& status, const PageProcessor::Context& page) const;
    // The answer without an error file, for refusals made before a request
    // is understood (limits, malformed input) and for a failed read.
    QByteArray builtIn(const HttpStatus& status) const;
    // 401 with the Basic challenge; a folder's is spelt the way it always was.
    QByteArray challenge(const QString& realm, bool folder) const;

private:
    const DocumentResponder& m_responder;
    Settings m_settings;
};

} // namespace servlane
