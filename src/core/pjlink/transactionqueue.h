#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/ctl/linetransactions.h"

// The requests of every client of one line, one at a time. A line carries one frame and its
// reply at a time, so the projectors of a chain, each with its own clients, share their line's
// queue; each request goes out only once the one before it has ended, and its reply goes back
// to whoever asked. Requests run in the order they came, so a client with several frames to
// send queues them one after another behind the others' and no client waits for long.
class TransactionQueue {
public:
    // line may be null: the line is down, and every request ends Lost until setLine().
    explicit TransactionQueue(LineTransactions *line = nullptr) : m_line(line) {}
    TransactionQueue(const TransactionQueue &) = delete;
    TransactionQueue &operator=(const TransactionQueue &) = delete;

    // The line the requests run on from now; null while it is down. A request in progress on
    // the line before ends Lost, as the line it was on is gone (its owner may destroy it now).
    void setLine(LineTransactions *line);
    LineTransactions *line() const { return m_line; }
    // The line is being opened (a network port connecting): requests wait for setLine().
    void hold();

    // Queues frame. done is called once with how it ended, unless owner has gone by then: a
    // request whose owner has gone before it is due is not sent at all. done may be called
    // before request() returns and may queue the owner's next request.
    void request(std::string frame, std::weak_ptr<void> owner, LineTransactions::Done done);
    // The reply just taken did not fit its request: the next frame waits for a quiet line.
    void distrust();
    // Requests waiting, not counting the one on the line.
    std::size_t waiting() const { return m_waiting.size(); }
    bool busy() const { return m_current.has_value(); }

    // Called each time a request has ended because its line was lost, after its owner has had the
    // answer: the owner of the line opens it again. Not called from inside setLine().
    std::function<void()> lineLost;
    // Called each time a request has ended with a reply: the line works.
    std::function<void()> lineAnswered;

private:
    struct Request {
        std::string frame;
        std::weak_ptr<void> owner;
        LineTransactions::Done done;
    };

    void pump();
    void ended(TransactionResult result);

    LineTransactions *m_line;
    std::deque<Request> m_waiting;
    std::optional<Request> m_current;
    // Which request on the line an answer is for: one from a line since replaced is not.
    std::uint64_t m_sent = 0;
    bool m_pumping = false;
    bool m_held = false;
};
