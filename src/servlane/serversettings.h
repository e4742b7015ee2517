#pragma once

#include "accesscheck.h"

#include <QString>

namespace servlane {

// The server's properties that decide how a request is answered. The server
// keeps them here and hands a copy to the parts that answer requests when
// they start and whenever one changes, so no part reads the properties
// while it answers.
struct ServerSettings {
    QString serverSoftware;
    int serverPort = 80;
    QString hostFolder; // html/errors/ lives here
    AccessCheck::Source authSource = AccessCheck::GolbalFile;
    QString authSourceFile;
    bool cgiEnable = false;
    QString cgiDirectory;
    int cgiTimeoutSeconds = 30;
    bool ssiEnable = false;
    bool functionsEnable = false;
    bool browseEnable = false;
    bool errorFilesEnable = false;
    bool verboseErrors = true;
    QString indexPageNames = QStringLiteral("index.html"); // comma-separated, no spaces
    bool trapEnable = false;
    QString trapFileTypes; // comma-separated, no spaces
};

} // namespace servlane
