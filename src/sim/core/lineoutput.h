#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/linepacer.h"

// How the simulated projectors misbehave on the way out. Times are microseconds.
struct OutputSettings {
    std::int64_t replyDelayUs = 0;
    // Each byte of a reply in a write of its own, byteGapUs apart.
    bool byteAtATime = false;
    std::int64_t byteGapUs = 10000;
    // Text sent without being asked, over and over, at unaskedRate bytes a second.
    std::string unasked{};
    double unaskedRate = 0;
};

// One write to the line: bytes that go out together.
struct LineWrite {
    std::string bytes;
    // The projector whose reply starts with these bytes, with the whole reply, or 0 when they
    // continue a reply or are unasked text.
    int replyFrom = 0;
    std::string reply;
    bool unasked = false;

    bool operator==(const LineWrite &) const = default;
};

// What the simulator sends, when: replies in the order they were asked for, each after the
// reply delay, and unasked text at its own rate in between. With pacing on, nothing goes out
// faster than the line carries it. The caller asks which writes are due and when the next
// falls due, so time is passed in and the schedule can be tested without waiting.
class LineOutput {
public:
    explicit LineOutput(OutputSettings settings = {});

    const OutputSettings &settings() const { return m_settings; }
    // Pacing at the line speed; 0 for none.
    void setBaud(int baud) { m_pacer.setBaud(baud); }
    int baud() const { return m_pacer.baud(); }

    // Unasked text starts from here; until then none is sent.
    void start(std::int64_t nowUs);
    void queueReply(std::string reply, int projector, std::int64_t nowUs);
    // The writes due by nowUs, in the order they go on the line.
    std::vector<LineWrite> takeDue(std::int64_t nowUs);
    // When the next write falls due, or nothing when nothing is waiting.
    std::optional<std::int64_t> nextDueUs(std::int64_t nowUs) const;
    // Drops every reply not yet sent and restarts unasked text from nowUs: the far end has
    // gone, and what it would have heard is lost.
    void clear(std::int64_t nowUs);
    bool idle() const { return m_replies.empty(); }

private:
    struct PendingReply {
        std::string text;
        int projector = 0;
        std::int64_t dueUs = 0;  // of its next byte
        std::size_t sent = 0;
    };

    std::optional<std::int64_t> replyDueUs() const;
    std::optional<std::int64_t> unaskedDueUs() const;
    std::int64_t unaskedByteDueUs(std::uint64_t index) const;

    OutputSettings m_settings;
    LinePacer m_pacer;
    std::deque<PendingReply> m_replies;
    bool m_started = false;
    std::int64_t m_unaskedStartUs = 0;
    std::uint64_t m_unaskedSent = 0;
};
