#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

namespace servlane {

// A file opened for reading, held by its descriptor so that an answer can
// stream it with sendfile while the path is renamed or replaced. Shared by
// every copy of the answer that carries it; the descriptor closes with the
// last one.
class OpenFile final {
public:
    // The file at `path`, or null with `error` set. `size` is the size of
    // what was opened (fstat on the descriptor, not a second look at the
    // path).
    // Only a regular file opens: anything else (a FIFO, a device, a socket,
    // a folder) is refused without ever blocking.
    static std::shared_ptr<const OpenFile> open(const QString& path, QString* error = nullptr);
    // The whole content of the regular file at `path`, read from what was
    // opened; nothing when it is not one, cannot be read or is larger than
    // `maxBytes`.
    static std::optional<QByteArray> readWhole(const QString& path, qint64 maxBytes,
                                               QString* error = nullptr);

    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int descriptor() const { return m_fd; }
    qint64 size() const { return m_size; }
    // Up to `length` bytes from `offset`; fewer if the file has shrunk.
    QByteArray read(qint64 offset, qint64 length) const;

private:
    OpenFile(int fd, qint64 size) : m_fd(fd), m_size(size) {}

    int m_fd = -1;
    qint64 m_size = 0;
};

} // namespace servlane
