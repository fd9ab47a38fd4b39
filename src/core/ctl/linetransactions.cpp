#include "core/ctl/linetransactions.h"

#include <algorithm>
#include <utility>

LineTransactions::LineTransactions(SerialControl &port, Clock &clock, int timeoutMs)
    : m_port(port), m_clock(clock), m_timeoutMs(timeoutMs)
{
    m_deadline = m_clock.createTimer([this] {
        m_deadline->stop();
        if (m_phase == Phase::Awaiting) {
            finish(TransactionEnd::TimedOut);
        } else if (m_phase == Phase::Settling) {
            finish(TransactionEnd::NotQuiet);
        }
    });
    // Bytes that belong to nobody only note the time they came; this looks at it when the
    // gap would have passed, so a flood costs no timer call per piece.
    m_quietCheck = m_clock.createTimer([this] {
        m_quietCheck->stop();
        if (m_phase != Phase::Settling)
            return;
        if (quiet())
            return send();
        lookWhenQuiet();
    });
    m_writeRetry = m_clock.createTimer([this] {
        m_writeRetry->stop();
        if (m_phase != Phase::Writing)
            return;
        if (quiet())
            return write();
        // Bytes that came while the frame waited belong to nobody: the line must fall quiet
        // again before it goes, within the same time-out.
        if (m_clock.now() >= m_writeBy)
            return finish(TransactionEnd::NotQuiet);
        m_writeRetry->start(kWriteRetryMs);
    });
    m_port.setEvents(this);
}

LineTransactions::~LineTransactions()
{
    m_port.setEvents(nullptr);
}

void LineTransactions::request(std::string frame, Done done)
{
    m_frame = std::move(frame);
    m_done = std::move(done);
    m_reply.clear();
    m_sentAt.reset();
    if (m_lost)
        return finish(TransactionEnd::Lost);
    if (quiet())
        return send();
    m_phase = Phase::Settling;
    m_deadline->start(kQuietGapMs + m_timeoutMs);
    lookWhenQuiet();
}

void LineTransactions::lookWhenQuiet()
{
    const auto left = *m_doubtSince + std::chrono::milliseconds(kQuietGapMs) - m_clock.now();
    m_quietCheck->start(
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

bool LineTransactions::quiet() const
{
    return !m_doubtSince || m_clock.now() - *m_doubtSince >= std::chrono::milliseconds(kQuietGapMs);
}

void LineTransactions::distrust()
{
    m_doubtSince = m_clock.now();
}

void LineTransactions::send()
{
    m_quietCheck->stop();
    m_doubtSince.reset();
    m_writeBy = m_clock.now() + std::chrono::milliseconds(m_timeoutMs);
    write();
}

void LineTransactions::write()
{
    m_phase = Phase::Awaiting;
    m_deadline->start(m_timeoutMs);
    const std::uint64_t sending = ++m_sent;
    m_sentAt = m_clock.now();
    // A reply may come back before output() returns (a fake line answers at once).
    if (m_port.output(m_frame) || m_phase != Phase::Awaiting || m_sent != sending)
        return;
    m_deadline->stop();
    m_sentAt.reset();
    // A port that closed under the frame has lost its line, whether or not it said so.
    if (m_lost || !m_port.portOpen()) {
        m_lost = true;
        return finish(TransactionEnd::Lost);
    }
    const auto left = m_writeBy - m_clock.now();
    if (left <= std::chrono::nanoseconds::zero())
        return finish(TransactionEnd::NotWritten);
    m_phase = Phase::Writing;
    m_writeRetry->start(static_cast<int>(std::min<std::int64_t>(
        kWriteRetryMs, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
}

void LineTransactions::received(std::string_view bytes)
{
    if (m_phase != Phase::Awaiting)
        return distrust();
    // Only the new bytes are looked at: the reply so far holds no carriage return.
    const auto end = bytes.find('\r');
    const std::string_view taken = bytes.substr(0, end == std::string_view::npos ? end : end + 1);
    const std::size_t room = kMaxReplyBytes - m_reply.size();
    m_reply.append(taken.substr(0, room));
    if (taken.size() > room) {
        distrust();
        return finish(TransactionEnd::Overlong);
    }
    if (end == std::string_view::npos)
        return;
    // What follows the carriage return is no part of this reply, nor of the next.
    if (taken.size() < bytes.size())
        distrust();
    finish(TransactionEnd::Reply);
}

void LineTransactions::lost()
{
    m_lost = true;
    if (m_phase != Phase::Idle)
        finish(TransactionEnd::Lost);
}

void LineTransactions::openFailed(const SerialError &)
{
    // A server that refuses the settings of an open line closes it.
    lost();
}

void LineTransactions::finish(TransactionEnd end)
{
    m_deadline->stop();
    m_quietCheck->stop();
    m_writeRetry->stop();
    m_phase = Phase::Idle;
    if (end == TransactionEnd::TimedOut)
        distrust();
    Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done({end, std::move(m_reply), m_sentAt});
}
