#include "qt/linethread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <utility>

LineThread::LineThread(int fd, Events events)
    : m_fd(fd), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_events(std::move(events))
{
    m_thread = std::thread([this] { run(); });
}

LineThread::~LineThread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    wake();
    m_thread.join();
    if (m_wake >= 0)
        ::close(m_wake);
}

void LineThread::wake() const
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

void LineThread::write(std::string_view frame)
{
    {
        const std::lock_guard lock(m_mutex);
        m_out.append(frame);
    }
    wake();
}

std::size_t LineThread::unsent() const
{
    const std::lock_guard lock(m_mutex);
    return m_out.size();
}

std::string LineThread::takeReceived()
{
    std::string taken;
    bool wasFull = false;
    {
        const std::lock_guard lock(m_mutex);
        wasFull = m_in.size() >= kMaxWaiting;
        taken.swap(m_in);
    }
    if (wasFull)
        wake();
    return taken;
}

LineThread::WriteResult LineThread::writeOut()
{
    std::string out;
    {
        const std::lock_guard lock(m_mutex);
        out = m_out;
    }
    std::size_t written = 0;
    bool gone = false;
    while (written < out.size()) {
        const ssize_t n = ::write(m_fd, out.data() + written, out.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // A line that refuses bytes for any other reason cannot carry these frames: they
            // are dropped, and only a line that is gone (EIO) ends the port.
            gone = errno == EIO;
            written = out.size();
        }
        break;
    }
    // Frames handed over meanwhile sit behind these and stay.
    const std::lock_guard lock(m_mutex);
    m_out.erase(0, written);
    return {written > 0 && !gone, gone};
}

LineThread::ReadResult LineThread::readIn()
{
    ReadResult result;
    std::string got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            if (got.size() >= kMaxWaiting)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A raw line with no minimum reads 0 when nothing is there, and an empty one EAGAIN.
        result.gone = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
        break;
    }
    if (!got.empty()) {
        result.read = true;
        result.replyEnd = got.find(kReplyEnd) != std::string::npos;
        const std::lock_guard lock(m_mutex);
        result.first = m_in.empty();
        m_in += got;
    }
    return result;
}

void LineThread::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point readAgainAt{};
    bool awaitingReply = false;
    bool gone = false;
    const auto lose = [&] {
        gone = true;
        if (m_events.lost)
            m_events.lost();
    };
    for (;;) {
        bool stop = false;
        bool wantOut = false;
        bool roomIn = false;
        {
            const std::lock_guard lock(m_mutex);
            stop = m_stop;
            wantOut = !m_out.empty();
            roomIn = m_in.size() < kMaxWaiting;
        }
        if (!gone && wantOut) {
            const WriteResult write = writeOut();
            if (write.gone)
                lose();
            if (write.wrote) {
                awaitingReply = true;
                readAgainAt = {};
            }
            wantOut = unsent() > 0;
        }
        if (stop)
            break;

        const Clock::time_point now = Clock::now();
        const bool mayRead = !gone && roomIn && now >= readAgainAt;
        timespec wait{};
        timespec *timeout = nullptr;
        if (!gone && roomIn && !mayRead) {
            const auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(readAgainAt - now).count();
            wait.tv_sec = static_cast<time_t>(left / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left % 1'000'000'000);
            timeout = &wait;
        } else if (m_wake < 0) {
            // No eventfd (out of descriptors): look for new frames and the stop every 10 ms.
            wait.tv_nsec = 10'000'000;
            timeout = &wait;
        }
        // With no events asked for, a hang-up or an error of the line is still reported.
        pollfd fds[2] = {{m_wake, POLLIN, 0},
                         {gone ? -1 : m_fd,
                          static_cast<short>((mayRead ? POLLIN : 0) | (wantOut ? POLLOUT : 0)), 0}};
        if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(m_wake, &count, sizeof count);
        }
        if (gone)
            continue;
        const short events = fds[1].revents;
        // What arrived before a hang-up is read and handed over before the loss.
        if ((mayRead && (events & POLLIN)) || (events & POLLHUP)) {
            const ReadResult read = readIn();
            if (read.read) {
                awaitingReply = awaitingReply && !read.replyEnd;
                readAgainAt = awaitingReply ? Clock::time_point{} : Clock::now() + kReadGap;
            }
            if (read.first && m_events.received)
                m_events.received();
            if (read.gone) {
                lose();
                continue;
            }
        }
        if (events & (POLLHUP | POLLERR | POLLNVAL))
            lose();
    }
}
