#pragma once

#include <QString>

#include <cstdint>

namespace casalux {

// What stat(2) tells about a file at one moment: enough to know, on the next
// request, whether anything read from it may have changed. Its identity
// (device, inode), size, type and both modification and change times
// (nanoseconds) are compared; the change time moves on every write, rename
// into place or permission change, even when the modification time is put
// back by hand.
//
// A file written moments ago may be written again within the same tick of
// the file system's clock and keep an equal stamp. Such a stamp is not
// settled: what was read under it must not be trusted next time.
class FileStamp final {
public:
    FileStamp() = default;

    // The stamp of the file now; a missing file has an empty stamp.
    static FileStamp of(const QString& path);

    bool exists() const { return m_exists; }
    // A regular file, after symbolic links.
    bool isFile() const;
    // Any later change of the file is bound to give a different stamp.
    bool settled() const { return m_settled; }

    // Equal stamps: the file is the same as when the other one was taken.
    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }

private:
    bool m_exists = false;
    bool m_settled = true; // nothing to change for a missing file but its creation
    std::uint32_t m_mode = 0;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::int64_t m_size = 0;
    std::int64_t m_modified = 0; // nanoseconds since the epoch
    std::int64_t m_changed = 0;
};

} // namespace casalux
