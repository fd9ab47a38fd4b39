#include "sim/core/lineoutput.h"

#include <algorithm>
#include <cmath>

namespace {

// Unasked text that the line could not carry in time is not made up later in a burst; after
// this long behind, its schedule starts afresh.
constexpr std::int64_t kUnaskedMaxLagUs = 1000000;
// At most this much goes out per call, so a high unasked rate cannot stall the caller; the
// rest is due at once on the next call.
constexpr std::size_t kMaxBytesPerCall = 65536;

}  // namespace

LineOutput::LineOutput(OutputSettings settings) : m_settings(std::move(settings)) {}

void LineOutput::start(std::int64_t nowUs)
{
    m_started = true;
    m_unaskedStartUs = nowUs;
    m_unaskedSent = 0;
}

void LineOutput::queueReply(std::string reply, int projector, std::int64_t nowUs)
{
    if (reply.empty())
        return;
    m_replies.push_back({std::move(reply), projector, nowUs + m_settings.replyDelayUs, 0});
}

void LineOutput::clear(std::int64_t nowUs)
{
    m_replies.clear();
    if (m_started)
        start(nowUs);
}

std::int64_t LineOutput::unaskedByteDueUs(std::uint64_t index) const
{
    // Byte 0 goes at the start; byte k after k intervals.
    return m_unaskedStartUs + static_cast<std::int64_t>(std::llround(static_cast<double>(index) *
                                                                     1e6 / m_settings.unaskedRate));
}

std::optional<std::int64_t> LineOutput::unaskedDueUs() const
{
    if (!m_started || m_settings.unasked.empty() || !(m_settings.unaskedRate > 0))
        return std::nullopt;
    return unaskedByteDueUs(m_unaskedSent);
}

std::optional<std::int64_t> LineOutput::replyDueUs() const
{
    if (m_replies.empty())
        return std::nullopt;
    return m_replies.front().dueUs;
}

std::vector<LineWrite> LineOutput::takeDue(std::int64_t nowUs)
{
    std::vector<LineWrite> writes;
    if (const auto due = unaskedDueUs(); due && *due < nowUs - kUnaskedMaxLagUs)
        start(nowUs);
    const std::size_t allowance = std::min(m_pacer.allowance(nowUs), kMaxBytesPerCall);
    std::size_t room = allowance;
    bool ready = false;
    while (true) {
        const auto replyDue = replyDueUs();
        const auto unaskedDue = unaskedDueUs();
        const bool replyReady = replyDue && *replyDue <= nowUs;
        const bool unaskedReady = unaskedDue && *unaskedDue <= nowUs;
        ready = replyReady || unaskedReady;
        if (!ready || room == 0)
            break;
        LineWrite write;
        // Whichever fell due first goes first; a reply wins a tie.
        if (replyReady && (!unaskedReady || *replyDue <= *unaskedDue)) {
            PendingReply &reply = m_replies.front();
            const std::size_t left = reply.text.size() - reply.sent;
            const std::size_t count = std::min(m_settings.byteAtATime ? 1 : left, room);
            write.bytes = reply.text.substr(reply.sent, count);
            if (reply.sent == 0) {
                write.replyFrom = reply.projector;
                write.reply = reply.text;
            }
            reply.sent += count;
            if (m_settings.byteAtATime)
                reply.dueUs = nowUs + m_settings.byteGapUs;
            if (reply.sent == reply.text.size())
                m_replies.pop_front();
        } else {
            const std::string &text = m_settings.unasked;
            while (room > write.bytes.size() && unaskedByteDueUs(m_unaskedSent) <= nowUs) {
                write.bytes.push_back(text[m_unaskedSent % text.size()]);
                ++m_unaskedSent;
            }
            write.unasked = true;
        }
        room -= write.bytes.size();
        writes.push_back(std::move(write));
    }
    m_pacer.consume(allowance - room, nowUs, ready);
    return writes;
}

std::optional<std::int64_t> LineOutput::nextDueUs(std::int64_t nowUs) const
{
    std::optional<std::int64_t> due = replyDueUs();
    if (const auto unasked = unaskedDueUs(); unasked && (!due || *unasked < *due))
        due = unasked;
    if (!due)
        return std::nullopt;
    return std::max({*due, nowUs, m_pacer.nextByteUs(nowUs)});
}
