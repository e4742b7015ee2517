#include "percentcodec.h"

namespace servlane {

int PercentCodec::hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QByteArray> PercentCodec::decodeStrict(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%') {
            out.append(c);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

QString PercentCodec::decodeSpaces(const QString& text)
{
    QString out = text;
    out.replace(QLatin1String("%20"), QLatin1String(" "));
    return out;
}

QString PercentCodec::encodeName(const QString& name)
{
    QString out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
            out += c;
        else if (u == ' ')
            out += QLatin1String("%20");
        else
            out += QLatin1Char('%') + QString::number(u, 16).toUpper();
    }
    return out;
}

} // namespace servlane
