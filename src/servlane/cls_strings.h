#pragma once

#include <QString>
#include <QStringList>

// Splitting of the server's comma lists (IndexPageNames, TrapFileTypes).
class cls_Strings final {
public:
    // Ordered pieces of `text` between the delimiters; empty pieces kept, so
    // positions stay as written. A blank text gives no piece at all.
    static QStringList Split(const QString& text, const QString& delimiter = QStringLiteral(","));
};
