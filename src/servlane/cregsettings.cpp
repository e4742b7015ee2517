#include "cregsettings.h"

#include <QMimeDatabase>

QString CRegSettings::ReadValue(const QString& root, const QString& keyPath,
                                const QString& valueName)
{
    if (root != QLatin1String("HKEY_CLASSES_ROOT") || !keyPath.startsWith(QLatin1Char('.')) ||
        keyPath.size() < 2 || valueName.compare(QLatin1String("Content Type"), Qt::CaseInsensitive))
        return {};
    static const QMimeDatabase db;
    const QList<QMimeType> types = db.mimeTypesForFileName(QStringLiteral("x") + keyPath);
    return types.isEmpty() ? QString() : types.first().name();
}
