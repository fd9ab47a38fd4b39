#include "qtclock.h"

#include <QTimer>

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

}  // namespace

std::unique_ptr<TimerHandle> QtClock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<QtTimerHandle>(std::move(onTimeout));
}
