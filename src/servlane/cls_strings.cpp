#include "cls_strings.h"

QStringList cls_Strings::Split(const QString& text, const QString& delimiter)
{
    if (text.trimmed().isEmpty())
        return {};
    if (delimiter.isEmpty())
        return {text};
    return text.split(delimiter);
}
