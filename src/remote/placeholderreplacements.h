#pragma once

#include <QList>
#include <QString>
#include <utility>

namespace casalux {

// Placeholder replacements that take effect as if applied one after another
// with replaceAll, done in one pass over the page instead of one pass each.
// That holds when no replacement text can form or hold a placeholder of the
// batch: every placeholder is "<", letters and digits, ">"; every text is
// either free of "<" and ">" or markup whose "<" each closes within it, and
// the names inside are escaped. Keys are not escaped, so a builder whose
// names hold "<" or ">" asks for the one-by-one way instead.
class PlaceholderReplacements final {
public:
    explicit PlaceholderReplacements(bool oneByOne) : m_oneByOne(oneByOne) {}

    void add(QString placeholder, QString text)
    {
        m_items.append({std::move(placeholder), std::move(text)});
    }

    void applyTo(QString& page) const;

    // Every occurrence of the placeholder, in any letter case.
    static void replaceAll(QString& page, const QString& placeholder, const QString& text)
    {
        page.replace(placeholder, text, Qt::CaseInsensitive);
    }

private:
    using Item = std::pair<QString, QString>;
    bool m_oneByOne;
    QList<Item> m_items;
};

} // namespace casalux
