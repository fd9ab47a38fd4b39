#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/panel/clock.h"
#include "core/panel/serialcontrol.h"

// How a transaction ended.
enum class TransactionEnd {
    Reply,       // a reply up to and including its carriage return
    TimedOut,    // no carriage return within the time-out
    Overlong,    // kMaxReplyBytes with no carriage return: no reply is that long
    NotWritten,  // the port's output buffer did not take the frame within the time-out
    NotQuiet,    // the line never fell quiet after a failure, so the frame was not sent
    Lost,        // the line went away; the port is closed
};

struct TransactionResult {
    TransactionEnd end = TransactionEnd::Reply;
    // What came for the frame: the reply with its carriage return, or the bytes received
    // before the time-out, at most kMaxReplyBytes of them.
    std::string reply;
    // When the frame went out, on the clock; nothing when it did not.
    std::optional<std::chrono::nanoseconds> sentAt;
};

// Requests to a projector, one at a time, on an open port: a frame out, one reply in, or a
// time-out. The line carries no sequence numbers, so a reply is taken only as the answer to
// the frame it follows: whatever arrives outside a request belongs to nobody and is thrown
// away, and after such bytes or a request that failed the next frame goes out only once the
// line has been quiet for kQuietGapMs, so that a late reply, or the rest of one, cannot pass for
// the next frame's answer. koru-ctl runs its commands on this; so does every other front end that
// asks a projector something.
class LineTransactions final : private SerialControl::Events {
public:
    // A projector starts its reply within a few tens of milliseconds, and the panel gives it
    // 500 ms (Timer2) before it shows the time-out: a reply that misses its time-out is late by
    // that measure. Once a reply has started, its bytes follow each other a character time
    // apart (ten bits a byte: 0.52 ms at 19200 bit/s, 1.04 ms at 9600), and even a reply of
    // kMaxReplyBytes crosses the line in 267 ms at 9600. So 500 ms of silence is as long as a
    // projector is given to start a reply, and hundreds of character times at either speed: a
    // late reply that comes within it, or the rest of one still on the line, is thrown away
    // whole instead of being read as the answer to the next frame.
    static constexpr int kQuietGapMs = 500;
    // The longest reply a projector sends is its model text, a few dozen characters; the
    // bound keeps memory and time fixed under a stream that never ends.
    static constexpr std::size_t kMaxReplyBytes = 256;
    // A port whose output buffer cannot take the frame yet (a line slower than the device that
    // carries it, a pseudo-terminal or a serial server, is still busy with earlier frames in
    // its owner's reckoning) is tried again this often, up to the time-out.
    static constexpr int kWriteRetryMs = 2;

    using Done = std::function<void(TransactionResult)>;

    LineTransactions(SerialControl &port, Clock &clock, int timeoutMs);
    ~LineTransactions();
    LineTransactions(const LineTransactions &) = delete;
    LineTransactions &operator=(const LineTransactions &) = delete;

    // Sends frame and calls done once with how the request ended, possibly before request()
    // returns (a frame the port cannot take, a lost line). One request at a time. The wait
    // for a quiet line after a failure is bounded: a line that is not quiet for kQuietGapMs
    // within kQuietGapMs + the time-out ends the request as NotQuiet, the frame unsent. So is
    // the wait for room in the port's output buffer: the time-out, then NotWritten.
    void request(std::string frame, Done done);
    bool lineLost() const { return m_lost; }
    // The line may still hold the rest of something else (bytes that belonged to nobody, a
    // reply that did not fit its request): the next frame waits until it has been quiet for
    // kQuietGapMs.
    void distrust();

private:
    enum class Phase { Idle, Settling, Writing, Awaiting };

    void received(std::string_view bytes) override;
    void lost() override;
    void openFailed(const SerialError &error) override;
    void send();
    // Hands the frame to the port, or waits to try again while its output buffer is full.
    void write();
    // Looks again once the line may have been quiet for kQuietGapMs.
    void lookWhenQuiet();
    bool quiet() const;
    void finish(TransactionEnd end);

    SerialControl &m_port;
    Clock &m_clock;
    int m_timeoutMs;
    std::unique_ptr<TimerHandle> m_deadline;
    std::unique_ptr<TimerHandle> m_quietCheck;
    std::unique_ptr<TimerHandle> m_writeRetry;
    Phase m_phase = Phase::Idle;
    std::string m_frame;
    std::string m_reply;
    Done m_done;
    std::uint64_t m_sent = 0;
    std::optional<std::chrono::nanoseconds> m_sentAt;
    // Until when a frame the port's output buffer cannot take yet may wait for room.
    std::chrono::nanoseconds m_writeBy{};
    // Since when the line is in doubt: the last byte that belonged to nobody, or the end of a
    // request that failed. Nothing while it is not.
    std::optional<std::chrono::nanoseconds> m_doubtSince;
    bool m_lost = false;
};
