#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ctl/linetransactions.h"
#include "core/panel/clock.h"
#include "core/pjlink/pjlinkprojector.h"
#include "core/pjlink/transactionqueue.h"

// What authentication draws on, from the edge: the system's random source and a library's MD5.
struct PjlinkAuthentication {
    std::function<std::uint32_t()> random;
    // The 32-character lowercase hex MD5 of the text.
    std::function<std::string(std::string_view)> md5Hex;
};

// One client connection to one projector, as a PJLink Class 1 device: the greeting, the
// authentication, the commands read from the client's bytes, each mapped to the projector's
// frames on its line's queue, and the replies. The connection is the edge's: the session
// writes through write() and ends the connection through close(), which must not destroy the
// session from inside the call.
class PjlinkSession {
public:
    struct Connection {
        std::function<void(std::string_view)> write;
        std::function<void()> close;
    };

    // A connection on which no command comes for this long is closed.
    static constexpr int kIdleCloseMs = 30000;
    // The longest command: "%1", four characters, a space, 128 characters of parameter and
    // the carriage return. The digest that the first command carries comes on top.
    static constexpr std::size_t kMaxCommandBytes = 136;
    static constexpr std::size_t kDigestChars = 32;
    // Commands a client may send ahead of its replies; one beyond is a flood, and closes.
    static constexpr std::size_t kMaxWaitingCommands = 8;

    PjlinkSession(const PjlinkProjector &projector, TransactionQueue &queue, Clock &clock,
                  const PjlinkAuthentication &authentication, Connection connection);
    ~PjlinkSession();
    PjlinkSession(const PjlinkSession &) = delete;
    PjlinkSession &operator=(const PjlinkSession &) = delete;

    // Sends the greeting.
    void start();
    // The client's bytes, as they come.
    void received(std::string_view bytes);
    bool closed() const { return m_closed; }

private:
    struct Job;

    void take(std::string_view line);
    void next();
    void run(std::string_view command);
    void step();
    void stepEnded(const TransactionResult &result);
    void reply(std::string_view head, std::string_view value);
    void close();

    const PjlinkProjector &m_projector;
    TransactionQueue &m_queue;
    Clock &m_clock;
    PjlinkAuthentication m_authentication;
    Connection m_connection;
    std::unique_ptr<TimerHandle> m_idle;
    // Alive while the session is: requests whose owner has gone are neither sent nor answered.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::string m_random;  // sent in the greeting; empty without a password
    bool m_authenticated = false;
    bool m_closed = false;
    bool m_inNext = false;
    std::string m_partial;
    std::deque<std::string> m_waiting;
    std::unique_ptr<Job> m_job;
};
