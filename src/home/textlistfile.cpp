#include "textlistfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace casalux {

namespace {

TextListFile::RenameFunction& renameStep()
{
    static TextListFile::RenameFunction step;
    return step;
}

bool systemRename(const QString& from, const QString& to)
{
    // rename(2) replaces the target atomically; QFile::rename refuses to.
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Makes the rename itself durable: the directory entry must reach the disk too.
void syncFolder(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(QFile& file, const QByteArray& bytes)
{
    return file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
}

QByteArray encode(const QString& line)
{
    return line.toLatin1() + "\r\n";
}

} // namespace

QStringList TextListFile::readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    QStringList lines = QString::fromLatin1(all).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the line end of the last record
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

bool TextListFile::append(const QString& path, const QString& line, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        setError(error, QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
        return false;
    }
    QByteArray bytes = encode(line);
    if (file.size() > 0) {
        char last = 0;
        if (file.seek(file.size() - 1) && file.getChar(&last) && last != '\n')
            bytes.prepend("\r\n");
    }
    const qint64 before = file.size();
    if (!file.seek(before) || !writeAll(file, bytes)) {
        const QString why = file.errorString();
        file.resize(before); // a record cut short would be read as a wrong one
        setError(error, QStringLiteral("Cannot write %1: %2").arg(path, why));
        return false;
    }
    return true;
}

namespace {

// The first half of a replacement: the new list, synced, under its
// temporary name.
bool writeTemporary(const QString& tempPath, const QStringList& lines, QString* error)
{
    QFile::remove(tempPath); // a stale one from an interrupted run
    QFile temp(tempPath);
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setError(error, QStringLiteral("Cannot create %1: %2").arg(tempPath, temp.errorString()));
        return false;
    }
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += encode(line);
    if (!writeAll(temp, bytes)) {
        setError(error, QStringLiteral("Cannot write %1: %2").arg(tempPath, temp.errorString()));
        temp.close();
        QFile::remove(tempPath);
        return false;
    }
    return true;
}

// The second half: the temporary file renamed over the list.
bool moveIntoPlace(const QString& tempPath, const QString& path, QString* error)
{
    const auto& step = renameStep();
    const bool renamed = step ? step(tempPath, path) : systemRename(tempPath, path);
    if (!renamed) {
        setError(error, QStringLiteral("Cannot replace %1: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        QFile::remove(tempPath);
        return false;
    }
    syncFolder(path);
    return true;
}

} // namespace

bool TextListFile::replace(const QString& path, const QString& tempPath, const QStringList& lines,
                           QString* error)
{
    return writeTemporary(tempPath, lines, error) && moveIntoPlace(tempPath, path, error);
}

bool TextListFile::replaceAll(const QList<Replacement>& lists, QString* error)
{
    const auto removeTemporaries = [&lists](qsizetype from) {
        for (qsizetype i = from; i < lists.size(); ++i)
            QFile::remove(lists[i].tempPath);
    };
    for (qsizetype i = 0; i < lists.size(); ++i) {
        if (!writeTemporary(lists[i].tempPath, lists[i].lines, error)) {
            removeTemporaries(0);
            return false;
        }
    }
    QList<QStringList> before;
    for (const Replacement& list : lists)
        before.append(readLines(list.path));
    for (qsizetype i = 0; i < lists.size(); ++i) {
        if (moveIntoPlace(lists[i].tempPath, lists[i].path, error))
            continue;
        removeTemporaries(i + 1);
        for (qsizetype j = 0; j < i; ++j)
            replace(lists[j].path, lists[j].tempPath, before[j]);
        return false;
    }
    return true;
}

bool TextListFile::isStorable(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

void TextListFile::setRenameForTesting(RenameFunction rename)
{
    renameStep() = std::move(rename);
}

} // namespace casalux
