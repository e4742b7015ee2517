#pragma once

#include <QJsonObject>
#include <QString>

namespace casalux {

// The status and events answers as text for people; scripts take --json.
class ReportPrinter final {
public:
    static QString status(const QJsonObject& report);
    static QString events(const QJsonObject& report);
    // A status made without asking the program that may hold the interface
    // (its socket could not be trusted): who holds it is not known, and the
    // report must not say "nobody". State "unknown", with why.
    static QJsonObject holderUnknown(QJsonObject report, const QString& why);
};

} // namespace casalux
