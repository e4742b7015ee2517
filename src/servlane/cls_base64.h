#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Base64 as the server uses it: the standard alphabet (RFC 2045) with "="
// as fill character. Decoding is strict: text that is not Base64 is refused
// instead of being turned into some bytes.
class cls_Base64 final {
public:
    struct Failure {
        QString source;
        QString description;
    };

    static std::optional<QByteArray> Decode(const QString& text);
    static QString Encode(const QByteArray& data);
    // An empty array cannot be encoded ("Input array is not dimensioned.").
    static std::optional<Failure> EncodeArr(const QByteArray& data, QString& encoded);
    // Never overwrites a file ("File already exists.").
    static std::optional<Failure> DecodeToFile(const QString& text, const QString& path);
};
