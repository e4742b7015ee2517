#pragma once

#include <QByteArray>
#include <QString>

namespace servlane {

// Basic authentication of protected folders: a folder is protected when it
// holds the access file, and a request for it must carry a user name and
// password that make up a whole line of the credential text.
class AccessCheck final {
public:
    enum Source { GolbalFile = 0, DirectoryFile = 1, LocalACL = 2, DomainACL = 3 };

    struct Verdict {
        bool allowed = true;
        QString realm; // set when refused
    };

    // `accessFile`: the access file of the request's folder, empty when the
    // folder has none (then everything is allowed).
    static Verdict check(const QString& accessFile, const QString& userName,
                         const QString& password, Source source, const QString& sourceFile,
                         const QString& serverName);

    // True when "user:password" equals a whole line of `credentials`
    // (letter case ignored, a line's surrounding blanks and its CR dropped,
    // the "realm:" line left out). Every line is compared in full, so the
    // time taken does not tell how much of a guess was right.
    static bool credentialsMatch(const QByteArray& credentials, const QByteArray& pair);
    // The server name, followed by a space and the text after "realm:" up
    // to the line end when the credentials carry such a line.
    static QString realm(const QByteArray& credentials, const QString& serverName);
    // The file's bytes; empty when it is missing, not a regular file or
    // cannot be read.
    static QByteArray readCredentials(const QString& path);
};

} // namespace servlane
