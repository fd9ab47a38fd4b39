#pragma once

#include <string>
#include <string_view>

// A log that is appended to in whole lines, on a descriptor of its own or on one it is given
// (standard output). Opening never waits: a FIFO that nobody reads, a directory or a socket is
// refused at once. On a regular file a write that the disk cuts short is taken back to the last
// whole line, so the log never ends in half a line; whatever fails, the reason is the system's.
class LogFile {
public:
    LogFile() = default;
    // Appends to fd, which stays the caller's.
    explicit LogFile(int fd) : m_fd(fd) {}
    ~LogFile();

    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Opens path for appending, creating a regular file if there is none, in place of what the
    // log wrote to before. Takes regular files and character devices; false, with error(), and
    // no log open, for anything else.
    bool open(const std::string &path);
    bool isOpen() const { return m_fd >= 0; }
    // Appends lines, each ending in a newline. False, with error(), when they could not all be
    // written; on a regular file none of a line that did not fit whole stays.
    bool append(std::string_view lines);
    // Why the last open() or append() failed, in the system's words.
    const std::string &error() const { return m_error; }
    // True when the last failure was a reader that went away (a pipe's, EPIPE).
    bool readerGone() const { return m_readerGone; }

private:
    bool fail(int error);

    int m_fd = -1;
    bool m_owned = false;
    bool m_regular = false;
    bool m_readerGone = false;
    std::string m_error;
};
