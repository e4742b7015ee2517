#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace servlane {

class FileLookup;

// Server-side includes, echo tags and function tags of HTML pages.
//
// Tags starting "<!--#" or "<%" are first written without spaces and double
// quotes (up to their ">"), so `<!--#include file="a.htm" -->` and
// `<!--#includefile=a.htm-->` mean the same. Replacement text is never
// scanned again, except that an included HTML file gets its own pass.
class PageProcessor final {
public:
    struct Context {
        bool ssi = false;
        bool functions = false;
        const FileLookup* lookup = nullptr;
        std::function<QString(const QString&)> variable;     // server variable by name
        std::function<QString(const QString&)> queryValue;   // query value by name
        std::function<QString(const QString&)> callFunction; // the host's answer
        std::function<QString(const QString&)> mimeType;     // by local path
        // Output of an exec tag ("execcmd" or "execcgi", and its command),
        // or nothing to leave the tag as written. Programs are run before
        // the page is processed; this only hands out what they wrote.
        std::function<std::optional<QByteArray>(const QString&, const QString&)> exec;
    };

    // Nested includes deeper than this are left as tags.
    static constexpr int kMaxIncludeDepth = 8;
    // An included file larger than this is left as a tag.
    static constexpr qint64 kMaxIncludeSize = 4 * 1024 * 1024;

    static QByteArray process(const QByteArray& page, const QString& pageLocalPath,
                              const Context& context);
    static QByteArray normaliseTags(const QByteArray& page);

private:
    static QByteArray processNested(const QByteArray& page, const QString& pageLocalPath,
                                    const Context& context, QStringList& chain);
    static bool include(const QString& kind, const QString& path, const QString& pageLocalPath,
                        const Context& context, QStringList& chain, QByteArray& out);
};

} // namespace servlane
