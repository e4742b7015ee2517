#pragma once

#include <QByteArray>
#include <QString>
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
    bool exists(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

} // namespace casalux::test
