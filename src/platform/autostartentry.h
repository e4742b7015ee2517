#pragma once

#include <QString>
#include <QStringList>

namespace casalux {

// "Load at log-in" on a Linux desktop: an XDG autostart entry,
// <config>/autostart/casalux.desktop, which desktop sessions run at log-in.
class AutostartEntry final {
public:
    // `configFolder` is $XDG_CONFIG_HOME (normally ~/.config).
    explicit AutostartEntry(QString configFolder = defaultConfigFolder());

    static QString defaultConfigFolder();

    QString path() const;
    bool exists() const;
    // Writes the entry for this program and its arguments, replacing any.
    bool write(const QString& program, const QStringList& arguments) const;
    bool remove() const;

    // The Exec line's value for a program and its arguments, quoted as the
    // desktop entry format asks.
    static QString execLine(const QString& program, const QStringList& arguments);

private:
    QString m_configFolder;
};

} // namespace casalux
