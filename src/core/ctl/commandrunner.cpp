#include "core/ctl/commandrunner.h"

#include "core/protocol/commandnames.h"
#include "core/protocol/frame.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/statusdecoder.h"

namespace {

// The arrow pad keeps whatever interval was last set; a program that has set none repeats it
// at the interval the panel starts with.
int repeatInterval(const HoldButton &button)
{
    return button.kind == HoldButton::Kind::Arrow ? kDesignRepeatMs : button.repeatMs;
}

}  // namespace

std::optional<std::vector<CtlStep>> planCommands(const std::vector<std::string> &names, int repeat,
                                                 std::string *unknown)
{
    std::vector<CtlStep> steps;
    for (const std::string &name : names) {
        const std::optional<NamedCommand> command = findCommand(name);
        if (!command) {
            if (unknown)
                *unknown = name;
            return std::nullopt;
        }
        const int times = command->hold ? repeat : 1;
        for (int i = 0; i < times; ++i) {
            steps.push_back({name, std::string(command->code), command->query,
                             i > 0 ? repeatInterval(*command->hold) : 0});
        }
    }
    return steps;
}

CommandRunner::CommandRunner(SerialControl &port, Clock &clock, std::string idPrefix, int timeoutMs)
    : m_line(port, clock, timeoutMs),
      m_clock(clock),
      m_idPrefix(std::move(idPrefix)),
      m_timeoutMs(timeoutMs)
{
    m_gapTimer = m_clock.createTimer([this] {
        m_gapTimer->stop();
        send();
    });
}

void CommandRunner::run(std::vector<CtlStep> steps, Reported onResult, Finished onFinished)
{
    m_steps = std::move(steps);
    m_onResult = std::move(onResult);
    m_onFinished = std::move(onFinished);
    m_next = 0;
    m_anyFailed = false;
    m_finished = false;
    m_lastSend.reset();
    next();
}

void CommandRunner::stop()
{
    m_gapTimer->stop();
    m_finished = true;
}

void CommandRunner::next()
{
    if (m_finished)
        return;
    if (m_next >= m_steps.size())
        return end(m_anyFailed ? kCtlSomeFailed : kCtlAllAnswered);
    const CtlStep &step = m_steps[m_next];
    if (m_lastSend && step.gapMs > 0 && !m_line.lineLost()) {
        const auto due = *m_lastSend + std::chrono::milliseconds(step.gapMs);
        const auto now = m_clock.now();
        if (due > now) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            m_gapTimer->start(static_cast<int>(wait.count()));
            return;
        }
    }
    send();
}

void CommandRunner::send()
{
    const CtlStep &step = m_steps[m_next];
    m_current = CtlResult{step.command, buildFrame(m_idPrefix, step.code), {}, {}, {}};
    m_lastSend = m_clock.now();
    m_line.request(m_current.frame,
                   [this](TransactionResult result) { answered(std::move(result)); });
}

void CommandRunner::answered(TransactionResult result)
{
    if (m_finished)
        return;
    m_current.reply = std::move(result.reply);
    // A frame held back until the line fell quiet went out later than it was asked for.
    if (result.sentAt)
        m_lastSend = result.sentAt;
    switch (result.end) {
    case TransactionEnd::Reply:
        break;
    case TransactionEnd::TimedOut:
        return complete("no reply within " + std::to_string(m_timeoutMs) + " ms");
    case TransactionEnd::Overlong:
        return complete("undecodable reply (" + std::to_string(LineTransactions::kMaxReplyBytes) +
                        " bytes with no carriage return)");
    case TransactionEnd::NotWritten:
        return complete("the frame could not be written");
    case TransactionEnd::NotQuiet:
        return complete("the line did not fall quiet for " +
                        std::to_string(LineTransactions::kQuietGapMs) +
                        " ms; the frame was not sent");
    case TransactionEnd::Lost:
        m_current.error = "the line was lost";
        m_anyFailed = true;
        if (m_onResult)
            m_onResult(m_current);
        return end(kCtlLineLost);
    }
    const std::string &reply = m_current.reply;
    if (reply == kNakReply)
        return complete("NAK");
    if (!m_steps[m_next].query) {
        if (reply == kAckReply)
            return complete({}, "ACK");
        m_line.distrust();
        return complete("unexpected reply");
    }
    if (auto text = decodeReply(reply, m_current.frame, m_idPrefix))
        return complete({}, std::move(*text));
    m_line.distrust();
    complete("undecodable reply");
}

void CommandRunner::complete(std::string error, std::string text)
{
    m_current.error = std::move(error);
    m_current.text = std::move(text);
    if (!m_current.ok())
        m_anyFailed = true;
    ++m_next;
    if (m_onResult)
        m_onResult(m_current);
    next();
}

void CommandRunner::end(int exitStatus)
{
    m_gapTimer->stop();
    m_finished = true;
    if (m_onFinished)
        m_onFinished(exitStatus);
}
