#include "os/logfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LogFile::~LogFile()
{
    if (m_owned && m_fd >= 0)
        ::close(m_fd);
}

bool LogFile::fail(int error)
{
    m_readerGone = error == EPIPE;
    m_error = std::strerror(error);
    return false;
}

bool LogFile::open(const std::string &path)
{
    if (m_owned && m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_owned = false;
    // Without O_NONBLOCK, a FIFO with no reader holds the open for ever.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        fail(error);
        if (error == ENXIO)
            m_error = "a FIFO that nobody reads";
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode)) {
        ::close(fd);
        m_error = S_ISFIFO(info.st_mode) ? "a FIFO, not a file" : "not a file";
        return false;
    }
    m_fd = fd;
    m_owned = true;
    m_regular = S_ISREG(info.st_mode);
    // A file's writes never wait; a terminal's may, so it keeps O_NONBLOCK.
    if (m_regular)
        ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    return true;
}

bool LogFile::append(std::string_view lines)
{
    if (m_fd < 0)
        return fail(EBADF);
    off_t start = -1;
    if (m_regular) {
        struct stat info {};
        if (::fstat(m_fd, &info) == 0)
            start = info.st_size;
    }
    std::size_t written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(m_fd, lines.data() + written, lines.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        // What reached the file of a line cut short is taken back.
        if (start >= 0) {
            const std::size_t last = lines.substr(0, written).rfind('\n');
            const std::size_t whole = last == std::string_view::npos ? 0 : last + 1;
            [[maybe_unused]] const int cut = ::ftruncate(m_fd, start + static_cast<off_t>(whole));
        }
        return fail(error);
    }
    return true;
}
