#include "accesscheck.h"

#include "filelookup.h"
#include "openfile.h"

#include <QList>
#include <algorithm>

namespace servlane {

namespace {

// Credential texts are small; anything bigger is not a login file.
constexpr qint64 kMaxCredentialFile = 1024 * 1024;

QByteArray lowered(const QByteArray& text)
{
    QByteArray out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

bool isRealmLine(const QByteArray& line)
{
    return lowered(line.left(6)) == "realm:";
}

// 0 when equal; never stops at the first difference.
unsigned constantTimeDifference(const QByteArray& a, const QByteArray& b)
{
    unsigned diff = unsigned(a.size() != b.size());
    const qsizetype n = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
        const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
        diff |= x ^ y;
    }
    return diff;
}

} // namespace

QByteArray AccessCheck::readCredentials(const QString& path)
{
    // Anything but a regular file reads as no credentials, so an odd entry
    // in the place of the access file locks the folder rather than opening
    // it (and a FIFO is never opened, which would block).
    if (path.isEmpty() || !FileLookup::isRegularFile(path))
        return {};
    return OpenFile::readWhole(path, kMaxCredentialFile).value_or(QByteArray());
}

bool AccessCheck::credentialsMatch(const QByteArray& credentials, const QByteArray& pair)
{
    const QByteArray wanted = lowered(pair);
    bool match = false;
    for (const QByteArray& raw : credentials.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || isRealmLine(line))
            continue;
        match |= constantTimeDifference(lowered(line), wanted) == 0;
    }
    return match;
}

QString AccessCheck::realm(const QByteArray& credentials, const QString& serverName)
{
    const qsizetype at = lowered(credentials).indexOf("realm:");
    if (at < 0)
        return serverName;
    qsizetype end = credentials.indexOf("\r\n", at);
    if (end < 0)
        end = credentials.indexOf('\n', at);
    if (end < 0)
        end = credentials.size();
    // The realm goes into a header line: it never carries a line break.
    QByteArray text = credentials.mid(at + 6, end - at - 6);
    text.replace('\r', "").replace('\n', "");
    return serverName + QLatin1Char(' ') + QString::fromLatin1(text);
}

AccessCheck::Verdict AccessCheck::check(const QString& accessFile, const QString& userName,
                                        const QString& password, Source source,
                                        const QString& sourceFile, const QString& serverName)
{
    Verdict v;
    if (accessFile.isEmpty())
        return v;
    QByteArray credentials;
    switch (source) {
    case GolbalFile:
        credentials = readCredentials(sourceFile);
        break;
    case DirectoryFile:
        credentials = readCredentials(accessFile);
        break;
    case LocalACL:
    case DomainACL:
        break; // no store of their own: nothing matches
    }
    v.allowed = !userName.isEmpty() &&
                credentialsMatch(credentials, (userName + QLatin1Char(':') + password).toLatin1());
    if (!v.allowed)
        v.realm = realm(credentials, serverName);
    return v;
}

} // namespace servlane
