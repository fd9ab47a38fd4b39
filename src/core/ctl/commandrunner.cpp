#include "core/ctl/commandrunner.h"

#include "core/panel/holdengine.h"
#include "core/protocol/commandnames.h"
#include "core/protocol/frame.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/statusdecoder.h"

namespace {

constexpr std::string_view kAck = "\x06\r";
constexpr std::string_view kNak = "\x15\r";

// The arrow pad keeps whatever interval was last set; a program that has set none repeats it
// at the interval the panel starts with.
int repeatInterval(const HoldButton &button)
{
    return button.kind == HoldButton::Kind::Arrow ? HoldEngine::kDesignRepeatMs : button.repeatMs;
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
    : m_port(port), m_clock(clock), m_idPrefix(std::move(idPrefix)), m_timeoutMs(timeoutMs)
{
    m_replyTimer = m_clock.createTimer([this] {
        m_replyTimer->stop();
        if (m_awaiting)
            complete("no reply within " + std::to_string(m_timeoutMs) + " ms");
    });
    m_gapTimer = m_clock.createTimer([this] {
        m_gapTimer->stop();
        send();
    });
    m_port.setEvents(this);
}

CommandRunner::~CommandRunner()
{
    m_port.setEvents(nullptr);
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

void CommandRunner::next()
{
    if (m_next >= m_steps.size()) {
        m_finished = true;
        if (m_onFinished)
            m_onFinished(m_anyFailed ? 1 : 0);
        return;
    }
    const CtlStep &step = m_steps[m_next];
    if (m_lastSend && step.gapMs > 0) {
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
    m_awaiting = true;
    m_lastSend = m_clock.now();
    m_replyTimer->start(m_timeoutMs);
    const std::size_t sending = m_next;
    // A reply may come back before output() returns (a fake line answers at once).
    if (!m_port.output(m_current.frame) && m_awaiting && m_next == sending)
        complete("the frame could not be written");
}

void CommandRunner::received(std::string_view bytes)
{
    // Bytes between replies are nobody's answer: unasked text, or a reply that came too late.
    if (!m_awaiting)
        return;
    m_current.reply.append(bytes);
    if (m_current.reply.find('\r') != std::string::npos)
        evaluate();
}

void CommandRunner::evaluate()
{
    m_current.reply.resize(m_current.reply.find('\r') + 1);
    const std::string &reply = m_current.reply;
    if (reply == kNak)
        return complete("NAK");
    if (!m_steps[m_next].query) {
        if (reply == kAck)
            return complete({}, "ACK");
        return complete("unexpected reply");
    }
    if (auto text = decodeReply(reply, m_current.frame, m_idPrefix))
        return complete({}, std::move(*text));
    complete("undecodable reply");
}

void CommandRunner::lost()
{
    if (m_awaiting)
        complete("the line was lost");
}

void CommandRunner::complete(std::string error, std::string text)
{
    m_replyTimer->stop();
    m_awaiting = false;
    m_current.error = std::move(error);
    m_current.text = std::move(text);
    if (!m_current.ok())
        m_anyFailed = true;
    ++m_next;
    if (m_onResult)
        m_onResult(m_current);
    next();
}
