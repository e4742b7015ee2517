#include "autostartentry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace casalux {

namespace {

// An argument as the Exec key wants it: quoted when it holds anything but
// plain characters, with ", `, $ and \ escaped inside the quotes; then, since
// the entry is itself an escaped string, every backslash doubled, and % as %%.
QString quoteArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=");
    const bool plain =
        !argument.isEmpty() && std::none_of(argument.cbegin(), argument.cend(),
                                            [](QChar c) { return reserved.contains(c); });
    QString text = argument;
    if (!plain) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        text = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('%'), QLatin1String("%%"));
    return text;
}

} // namespace

AutostartEntry::AutostartEntry(QString configFolder) : m_configFolder(std::move(configFolder)) {}

QString AutostartEntry::defaultConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString AutostartEntry::path() const
{
    return m_configFolder + QLatin1String("/autostart/casalux.desktop");
}

bool AutostartEntry::exists() const
{
    return QFile::exists(path());
}

QString AutostartEntry::execLine(const QString& program, const QStringList& arguments)
{
    QStringList parts{quoteArgument(program)};
    for (const QString& argument : arguments)
        parts.append(quoteArgument(argument));
    return parts.join(QLatin1Char(' '));
}

bool AutostartEntry::write(const QString& program, const QStringList& arguments) const
{
    if (!QDir().mkpath(m_configFolder + QLatin1String("/autostart")))
        return false;
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QLatin1String("[Desktop Entry]\n"
                                       "Type=Application\n"
                                       "Name=Casalux\n"
                                       "Comment=Home automation for the X10 power line\n"
                                       "Exec=") +
                         execLine(program, arguments) +
                         QLatin1String("\n"
                                       "Terminal=false\n"
                                       "X-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    return file.commit();
}

bool AutostartEntry::remove() const
{
    return !exists() || QFile::remove(path());
}

} // namespace casalux
