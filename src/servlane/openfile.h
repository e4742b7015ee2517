#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

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
    static std::shared_ptr<const OpenFile> open(const QString& path, QString* error = nullptr);

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
