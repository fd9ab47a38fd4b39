#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ctl/linetransactions.h"
#include "core/panel/clock.h"
#include "core/panel/serialcontrol.h"

// One frame to send: a command by name, its code, and how to read its reply.
struct CtlStep {
    std::string command;
    std::string code;
    bool query = false;
    // The least time from the send before this one, for the repeats of a hold command.
    int gapMs = 0;
};

// What became of one frame.
struct CtlResult {
    std::string command;
    std::string frame;
    std::string reply;  // as received, up to and including its carriage return
    std::string text;   // the decoded status or "ACK", when ok
    std::string error;  // "NAK", "no reply within 500 ms", ...; empty when ok

    bool ok() const { return error.empty(); }
};

// The steps for the commands named, in order; a hold command is sent repeat times, at its
// button's repeat interval. Nothing, with the offending name in unknown, for a name that is
// no command.
std::optional<std::vector<CtlStep>> planCommands(const std::vector<std::string> &names, int repeat,
                                                 std::string *unknown = nullptr);

// The exit statuses of a run, as koru-ctl returns them.
inline constexpr int kCtlAllAnswered = 0;
inline constexpr int kCtlSomeFailed = 1;
inline constexpr int kCtlLineLost = 3;

// Sends the steps one after another on an open port, each a transaction of LineTransactions:
// a frame, then its reply or the time-out, then the next. A failed step does not stop the
// rest; a lost line does, since no frame after it can reach a projector. Everything happens on
// the events of the port and the clock, so it runs on a real event loop or a virtual clock
// alike.
class CommandRunner final {
public:
    // kCtlAllAnswered when every step was answered as expected, kCtlLineLost when the line was
    // lost, else kCtlSomeFailed.
    using Finished = std::function<void(int exitStatus)>;
    using Reported = std::function<void(const CtlResult &)>;

    CommandRunner(SerialControl &port, Clock &clock, std::string idPrefix, int timeoutMs);
    CommandRunner(const CommandRunner &) = delete;
    CommandRunner &operator=(const CommandRunner &) = delete;

    void run(std::vector<CtlStep> steps, Reported onResult, Finished onFinished);
    // Ends the run where it is, from a report or from outside: no further frame goes out, and
    // nothing more is reported.
    void stop();
    bool finished() const { return m_finished; }

private:
    void next();
    void send();
    void answered(TransactionResult result);
    void complete(std::string error, std::string text = {});
    void end(int exitStatus);

    LineTransactions m_line;
    Clock &m_clock;
    std::string m_idPrefix;
    int m_timeoutMs;
    std::unique_ptr<TimerHandle> m_gapTimer;
    std::vector<CtlStep> m_steps;
    Reported m_onResult;
    Finished m_onFinished;
    std::size_t m_next = 0;
    CtlResult m_current;
    std::optional<std::chrono::nanoseconds> m_lastSend;
    bool m_anyFailed = false;
    bool m_finished = false;
};
