#pragma once

#include <QString>

namespace servlane {

// Looks up name=value pairs in a query string or a form body the way the
// host pages expect: the key is found by a case-insensitive substring search,
// values come back exactly as sent (no percent-decoding, "+" stays "+").
// A key also matches inside a longer name ("a=" inside "ba="); hosts rely on
// the counts that gives, so it is kept.
class QueryStringParser final {
public:
    void setText(const QString& text);
    const QString& text() const { return m_text; }

    // Value of the item-th (1-based) occurrence of name; empty when there
    // are fewer occurrences or the text is blank.
    QString value(const QString& name, int item = 1,
                  const QString& delimiter = QStringLiteral("&")) const;
    // Number of occurrences of name & "=".
    int count(const QString& name) const;

private:
    QString m_text;
    // One-entry cache: pages ask for the same count in loops.
    mutable QString m_cachedName;
    mutable int m_cachedCount = -1;
};

} // namespace servlane
