#include "filestamp.h"

#include <QFile>

#include <algorithm>

#include <sys/stat.h>
#include <time.h>

namespace casalux {

namespace {

constexpr std::int64_t nanosPerSecond = 1'000'000'000;

std::int64_t nanos(const timespec& t)
{
    return std::int64_t(t.tv_sec) * nanosPerSecond + t.tv_nsec;
}

} // namespace

FileStamp FileStamp::of(const QString& path)
{
    FileStamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.m_exists = true;
    stamp.m_mode = st.st_mode;
    stamp.m_device = st.st_dev;
    stamp.m_inode = st.st_ino;
    stamp.m_size = st.st_size;
    stamp.m_modified = nanos(st.st_mtim);
    stamp.m_changed = nanos(st.st_ctim);

    // File times come from a clock that advances in ticks of a few
    // milliseconds, or in whole seconds (two on FAT) on file systems that
    // keep no finer times. A stamp is settled once the clock has clearly
    // moved past both times, so that a later change cannot repeat them.
    const bool coarse = stamp.m_modified % 1'000'000 == 0 && stamp.m_changed % 1'000'000 == 0;
    const std::int64_t margin = coarse ? 2'500'000'000 : 100'000'000;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t latest = std::max(stamp.m_modified, stamp.m_changed);
    const std::int64_t age = nanos(now) - latest;
    // A time ahead of the clock (set by hand, or the clock put back) is as
    // safe once far enough ahead: a change now would write the present.
    stamp.m_settled = age > margin || age < -margin;
    return stamp;
}

bool FileStamp::isFile() const
{
    return m_exists && S_ISREG(m_mode);
}

bool FileStamp::operator==(const FileStamp& other) const
{
    return m_exists == other.m_exists && m_mode == other.m_mode && m_device == other.m_device &&
           m_inode == other.m_inode && m_size == other.m_size && m_modified == other.m_modified &&
           m_changed == other.m_changed;
}

} // namespace casalux
