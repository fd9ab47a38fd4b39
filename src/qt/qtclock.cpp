#include "qt/qtclock.h"

#include <QTimer>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#endif

namespace {

class QtTimerHandle : public TimerHandle {
public:
    explicit QtTimerHandle(std::function<void()> onTimeout)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(onTimeout));
    }
    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

#ifdef __linux__
// Qt rounds every wait for a timer up to a whole millisecond, so each tick of even a precise
// QTimer comes 0 to 1 ms late, by a different amount every time: a 50 ms repeat strayed by up
// to a millisecond before the machine added any delay of its own. A timerfd expires on the
// kernel's high-resolution clock, on a fixed schedule, and wakes the event loop through its
// descriptor at that moment.
class TimerFdHandle : public TimerHandle {
public:
    TimerFdHandle(int fd, std::function<void()> onTimeout)
        : m_fd(fd), m_notifier(fd, QSocketNotifier::Read), m_onTimeout(std::move(onTimeout))
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                         [this] { expired(); });
    }
    ~TimerFdHandle() override
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    void start(int intervalMs) override
    {
        const timespec interval{intervalMs / 1000, (intervalMs % 1000) * 1'000'000L};
        // Relative to now: a full interval, then one every interval. Setting the time also
        // drops an expiry that has not been read yet.
        const itimerspec schedule{interval, interval};
        ::timerfd_settime(m_fd, 0, &schedule, nullptr);
    }
    void stop() override
    {
        const itimerspec disarmed{};
        ::timerfd_settime(m_fd, 0, &disarmed, nullptr);
    }

private:
    void expired()
    {
        std::uint64_t expiries = 0;
        // Nothing to read when the timer was stopped or started afresh after it expired: that
        // expiry belonged to an interval that has been dropped.
        if (::read(m_fd, &expiries, sizeof expiries) != sizeof expiries)
            return;
        // Ticks missed while the event loop was held up are not made up in a burst, as Qt's
        // timers do not make them up either; the schedule goes on where it was.
        m_onTimeout();
    }

    int m_fd;
    QSocketNotifier m_notifier;
    std::function<void()> m_onTimeout;
};
#endif

}  // namespace

std::unique_ptr<TimerHandle> QtClock::createTimer(std::function<void()> onTimeout)
{
#ifdef __linux__
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0)
        return std::make_unique<TimerFdHandle>(fd, std::move(onTimeout));
#endif
    return std::make_unique<QtTimerHandle>(std::move(onTimeout));
}
