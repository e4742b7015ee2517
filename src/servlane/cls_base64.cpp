#include "cls_base64.h"

#include <QFile>
#include <QFileInfo>

std::optional<QByteArray> cls_Base64::Decode(const QString& text)
{
    const QString t = text.trimmed();
    for (const QChar c : t) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
    }
    auto result = QByteArray::fromBase64Encoding(t.toLatin1(), QByteArray::Base64Encoding |
                                                                   QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

QString cls_Base64::Encode(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64());
}

std::optional<cls_Base64::Failure> cls_Base64::EncodeArr(const QByteArray& data, QString& encoded)
{
    if (data.isEmpty())
        return Failure{QStringLiteral("Base64.EncodeArr"),
                       QStringLiteral("Input array is not dimensioned.")};
    encoded = Encode(data);
    return std::nullopt;
}

std::optional<cls_Base64::Failure> cls_Base64::DecodeToFile(const QString& text,
                                                            const QString& path)
{
    if (QFileInfo::exists(path))
        return Failure{QStringLiteral("Base64.DecodeToFile"), QStringLiteral("File already exists.")};
    const auto bytes = Decode(text);
    QFile file(path);
    if (!bytes || !file.open(QIODevice::NewOnly | QIODevice::WriteOnly) ||
        file.write(*bytes) != bytes->size())
        return Failure{QStringLiteral("Base64.DecodeToFile"),
                       bytes ? file.errorString() : QStringLiteral("Invalid Base64 text.")};
    return std::nullopt;
}
