#include "openfile.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace servlane {

std::shared_ptr<const OpenFile> OpenFile::open(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    do {
        // Non-blocking, so opening a FIFO returns at once (and is refused
        // below) instead of waiting for a writer.
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        const int saved = S_ISREG(st.st_mode) ? errno : EISDIR;
        ::close(fd);
        fd = -1;
        errno = saved;
    }
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    return std::shared_ptr<const OpenFile>(new OpenFile(fd, qint64(st.st_size)));
}

std::optional<QByteArray> OpenFile::readWhole(const QString& path, qint64 maxBytes, QString* error)
{
    const auto file = open(path, error);
    if (!file)
        return std::nullopt;
    if (file->size() > maxBytes) {
        if (error)
            *error = QStringLiteral("File too large");
        return std::nullopt;
    }
    return file->read(0, file->size());
}

OpenFile::~OpenFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray OpenFile::read(qint64 offset, qint64 length) const
{
    QByteArray out(qsizetype(std::max<qint64>(0, length)), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < out.size()) {
        const ssize_t n =
            ::pread(m_fd, out.data() + got, std::size_t(out.size() - got), off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += qsizetype(n);
    }
    out.truncate(got);
    return out;
}

} // namespace servlane
