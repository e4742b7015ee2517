#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace servlane {

// Percent-encoding both ways. Decoding is strict: Qt's own decoder turns
// "%2." and "%zz" into bytes, which would let an encoded "../" through.
class PercentCodec final {
public:
    // The value of one hex digit, or -1.
    static int hexValue(char c);
    // Every %XX needs two hex digits; anything else gives nullopt.
    static std::optional<QByteArray> decodeStrict(const QByteArray& text);
    // Only "%20" becomes a space; other sequences stay as sent.
    static QString decodeSpaces(const QString& text);
    // Letters and digits unchanged, a space as "%20", every other character
    // as "%" and its code in upper-case hex without leading zeros. This is
    // the encoding the listing pages use for directory links.
    static QString encodeName(const QString& name);
};

} // namespace servlane
