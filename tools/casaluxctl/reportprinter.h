#pragma once

#include <QJsonObject>
#include <QString>

namespace casalux {

// The status and events answers as text for people; scripts take --json.
class ReportPrinter final {
public:
    static QString status(const QJsonObject& report);
    static QString events(const QJsonObject& report);
};

} // namespace casalux
