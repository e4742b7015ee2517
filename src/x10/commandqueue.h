#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace casalux {

// Device commands waiting to be sent, as text: entries of a function-code
// digit ("2" On, "3" Off), the house code and the unit, each ended by "~".
// "2A1~3B12~" is A1 on, then B12 off.
class CommandQueue final : public QObject {
    Q_OBJECT

public:
    struct Entry {
        QChar code;
        QString house;
        QString unit;
        QString text() const { return code + house + unit; }
    };

    void append(int function, const QString& house, const QString& unit);
    bool isEmpty() const { return m_text.isEmpty(); }
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }

    // The first entry, without removing it.
    std::optional<Entry> front() const;
    // Deletes every occurrence of the entry (letters compared without regard
    // to case), so duplicates queued meanwhile go with it.
    void removeAll(const Entry& entry);

Q_SIGNALS:
    // An entry was added: whoever sends the entries has work.
    void appended();

private:
    QString m_text;
};

} // namespace casalux
