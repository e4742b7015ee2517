#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace casalux::test {

// A throw-away program folder with helpers to write and read its files raw.
class TempFolder final {
public:
    TempFolder();

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const;

    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;
    // A list file's lines (Latin-1, each ended by CR LF).
    QStringList readLines(const QString& name) const;
    bool exists(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Lines as the list files hold them: Latin-1, each ended by CR LF.
QByteArray crlf(const QStringList& lines);

} // namespace casalux::test
