#include "core/pjlink/pjlinksession.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "core/protocol/frame.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/statusdecoder.h"

namespace {

// The frames' codes, from the button table.
constexpr std::string_view kPowerOn = codeOf("power-on");
constexpr std::string_view kPowerOff = codeOf("power-off");
constexpr std::array<std::string_view, 3> kInputs{codeOf("input-1"), codeOf("input-2"),
                                                  codeOf("input-3")};
constexpr std::string_view kSoundMuteOn = codeOf("sound-mute-on");
constexpr std::string_view kSoundMuteOff = codeOf("sound-mute-off");
constexpr std::string_view kNoShowOn = codeOf("no-show-on");
constexpr std::string_view kNoShowOff = codeOf("no-show-off");
constexpr std::string_view kStatus = codeOf("status");
constexpr std::string_view kMode = codeOf("mode");
constexpr std::string_view kLampTime = codeOf("lamp-time");
constexpr std::string_view kLampMode = codeOf("lamp-mode");
constexpr std::string_view kStatus2 = codeOf("status-2");

// What a STATUS reply says in PJLink's terms: the power state POWR reports, and the
// temperature and "other" digits of ERST. Its first character is the power state (0 on, 8
// standby, 4 count down, 2 cooling, 1 power abnormality), its second what goes with it (8
// temperature abnormality, 4 power save, 2 key input prohibition).
//  - A power abnormality is reported by POWR as standby (the projector has shut its power
//    down; it shows nothing) and by ERST as an error under "other", the only field it fits.
//  - A temperature abnormality is an error, not a warning: the projector names it an
//    abnormality and does not say how far it has gone. Its power state is the first character.
//  - Key input prohibition is the projector's keys locked while it is on: on, and no error.
struct StatusRow {
    std::string_view reply;
    char power;
    char temperature;
    char other;
};

constexpr std::array<StatusRow, 11> kStatusRows{{
    {"00", '1', '0', '0'},
    {"80", '0', '0', '0'},
    {"40", '3', '0', '0'},
    {"20", '2', '0', '0'},
    {"10", '0', '0', '2'},
    {"08", '1', '2', '0'},
    {"28", '2', '2', '0'},
    {"88", '0', '2', '0'},
    {"02", '1', '0', '0'},
    {"24", '2', '0', '0'},
    {"04", '0', '0', '0'},
}};

// STATUS 2 as AVMT's answer. With no signal, or in standby, the projector does not say
// whether its picture and sound are muted: rather than guess, the answer is that the state
// cannot be had now (ERR3).
struct MuteRow {
    std::string_view reply;
    std::string_view avmt;
};

constexpr std::array<MuteRow, 6> kMuteRows{{
    {"00", "30"},
    {"01", "11"},
    {"02", "21"},
    {"03", "31"},
    {"80", "ERR3"},
    {"FF", "ERR3"},
}};

// AVMT's settings and the frames that make them, in that order.
struct MuteSetting {
    std::string_view parameter;
    std::array<std::string_view, 2> codes;
};

constexpr std::array<MuteSetting, 6> kMuteSettings{{
    {"10", {kNoShowOff, {}}},
    {"11", {kNoShowOn, {}}},
    {"20", {kSoundMuteOff, {}}},
    {"21", {kSoundMuteOn, {}}},
    {"30", {kNoShowOff, kSoundMuteOff}},
    {"31", {kNoShowOn, kSoundMuteOn}},
}};

// The replies of the frames a command sent, without their carriage returns, in order.
using Replies = std::vector<std::string>;
using Answer = std::string (*)(const PjlinkProjector &projector, const Replies &replies);

const StatusRow *statusRow(std::string_view reply)
{
    const auto row = std::find_if(kStatusRows.begin(), kStatusRows.end(),
                                  [reply](const StatusRow &r) { return r.reply == reply; });
    return row == kStatusRows.end() ? nullptr : &*row;
}

std::string powerAnswer(const PjlinkProjector &, const Replies &replies)
{
    const StatusRow *row = statusRow(replies[0]);
    return row ? std::string(1, row->power) : "ERR4";
}

// Fan, lamp, temperature, cover, filter, other: the projector reports only temperature and
// power abnormalities, so the other fields are always 0.
std::string errorAnswer(const PjlinkProjector &, const Replies &replies)
{
    const StatusRow *row = statusRow(replies[0]);
    if (!row)
        return "ERR4";
    return std::string("00") + row->temperature + "00" + row->other;
}

// The first PJLink input that selects the projector's input. An input that none selects
// cannot be named to the client: rather than name another, it cannot be had now (ERR3).
std::string inputAnswer(const PjlinkProjector &projector, const Replies &replies)
{
    const int input = replies[0].size() == 1 ? replies[0][0] - '0' : 0;
    for (const PjlinkInput &mapped : projector.inputs) {
        if (mapped.projector == input)
            return mapped.pjlink;
    }
    return "ERR3";
}

std::string muteAnswer(const PjlinkProjector &, const Replies &replies)
{
    for (const MuteRow &row : kMuteRows) {
        if (row.reply == replies[0])
            return std::string(row.avmt);
    }
    return "ERR4";
}

// L-TIME, L-MODE and STATUS as LAMP's answer. The projector counts one lamp time, for the
// projector rather than for each of its lamps, so the answer names one lamp: its hours (at
// most the 99999 PJLink allows, without leading zeros), lit while L-MODE shows a lamp on and
// STATUS shows the power on or counting down; a lamp L-MODE shows on while the projector
// cools or stands by is not lit.
std::string lampAnswer(const PjlinkProjector &, const Replies &replies)
{
    const std::string &hours = replies[0];
    const std::size_t first = std::min(hours.find_first_not_of('0'), hours.size() - 1);
    std::string count = hours.substr(first);
    if (count.size() > 5)
        count = "99999";
    const StatusRow *row = statusRow(replies[2]);
    if (!row || replies[1].size() != 2)
        return "ERR4";
    const bool anyOn = replies[1][1] != '0';
    const bool powered = row->power == '1' || row->power == '3';
    return count + (anyOn && powered ? " 1" : " 0");
}

struct Plan {
    std::string immediate;  // an answer that needs no frame, or an error
    std::vector<std::string_view> codes;
    bool set = false;
    Answer answer = nullptr;
};

Plan now(std::string value)
{
    Plan plan;
    plan.immediate = std::move(value);
    return plan;
}

Plan query(std::string_view parameter, std::vector<std::string_view> codes, Answer answer)
{
    if (parameter != "?")
        return now("ERR2");
    return {{}, std::move(codes), false, answer};
}

Plan text(std::string_view parameter, const std::string &value)
{
    return now(parameter == "?" ? value : "ERR2");
}

Plan inputPlan(std::string_view parameter, const PjlinkProjector &projector)
{
    if (parameter == "?")
        return query(parameter, {kMode}, inputAnswer);
    for (const PjlinkInput &mapped : projector.inputs) {
        if (mapped.pjlink == parameter && mapped.projector >= 1 && mapped.projector <= 3)
            return {{}, {kInputs[static_cast<std::size_t>(mapped.projector - 1)]}, true};
    }
    return now("ERR2");
}

Plan mutePlan(std::string_view parameter)
{
    if (parameter == "?")
        return query(parameter, {kStatus2}, muteAnswer);
    for (const MuteSetting &setting : kMuteSettings) {
        if (setting.parameter != parameter)
            continue;
        Plan plan{{}, {setting.codes[0]}, true};
        if (!setting.codes[1].empty())
            plan.codes.push_back(setting.codes[1]);
        return plan;
    }
    return now("ERR2");
}

std::string inputList(const PjlinkProjector &projector)
{
    std::string list;
    for (const PjlinkInput &mapped : projector.inputs) {
        if (!list.empty())
            list += ' ';
        list += mapped.pjlink;
    }
    return list;
}

// Class 1's commands. Nothing for a command it does not define.
std::optional<Plan> plan(std::string_view name, std::string_view parameter,
                         const PjlinkProjector &projector)
{
    if (name == "POWR") {
        if (parameter == "1")
            return Plan{{}, {kPowerOn}, true};
        if (parameter == "0")
            return Plan{{}, {kPowerOff}, true};
        return query(parameter, {kStatus}, powerAnswer);
    }
    if (name == "INPT")
        return inputPlan(parameter, projector);
    if (name == "AVMT")
        return mutePlan(parameter);
    if (name == "ERST")
        return query(parameter, {kStatus}, errorAnswer);
    if (name == "LAMP")
        return query(parameter, {kLampTime, kLampMode, kStatus}, lampAnswer);
    if (name == "INST")
        return text(parameter, inputList(projector));
    if (name == "NAME")
        return text(parameter, projector.name);
    if (name == "INF1")
        return text(parameter, projector.inf1);
    if (name == "INF2")
        return text(parameter, projector.inf2);
    if (name == "INFO")
        return text(parameter, projector.info);
    if (name == "CLSS")
        return text(parameter, "1");
    return std::nullopt;
}

bool visible(char c)
{
    return c > ' ' && c <= '~';
}

// Compares every character whatever the first difference, so that the time taken tells an
// attacker nothing of how much of a digest was right.
bool sameDigest(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::string hex8(std::uint32_t value)
{
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xf];
    return text;
}

}  // namespace

struct PjlinkSession::Job {
    std::string head;  // "%1POWR="
    Plan plan;
    std::size_t next = 0;
    std::string frame;
    Replies replies;
};

PjlinkSession::PjlinkSession(const PjlinkProjector &projector, TransactionQueue &queue,
                             Clock &clock, const PjlinkAuthentication &authentication,
                             Connection connection)
    : m_projector(projector),
      m_queue(queue),
      m_clock(clock),
      m_authentication(authentication),
      m_connection(std::move(connection))
{
    m_idle = m_clock.createTimer([this] {
        // A command still on the line is answered first; the reply starts the wait anew.
        if (!m_job)
            close();
    });
}

PjlinkSession::~PjlinkSession() = default;

void PjlinkSession::start()
{
    m_idle->start(kIdleCloseMs);
    if (m_projector.password.empty()) {
        m_authenticated = true;
        m_connection.write("PJLINK 0\r");
        return;
    }
    m_random = hex8(m_authentication.random());
    m_connection.write("PJLINK 1 " + m_random + "\r");
}

void PjlinkSession::received(std::string_view bytes)
{
    for (const char c : bytes) {
        if (m_closed)
            return;
        if (c != '\r') {
            // A client that ends its lines with CR LF: the LF begins no line.
            if (c == '\n' && m_partial.empty())
                continue;
            // No line is this long: the rest of it is not waited for.
            if (m_partial.size() == kDigestChars + kMaxCommandBytes - 1)
                return close();
            m_partial.push_back(c);
            continue;
        }
        m_idle->start(kIdleCloseMs);
        if (m_waiting.size() == kMaxWaitingCommands)
            return close();
        m_waiting.push_back(std::move(m_partial));
        m_partial.clear();
    }
    next();
}

void PjlinkSession::next()
{
    if (m_inNext)
        return;
    m_inNext = true;
    while (!m_closed && !m_job && !m_waiting.empty()) {
        const std::string line = std::move(m_waiting.front());
        m_waiting.pop_front();
        take(line);
    }
    m_inNext = false;
}

void PjlinkSession::take(std::string_view line)
{
    // The digest comes before the first command after a greeting with a random number; a
    // client may send it again before a later one, and then it is checked again.
    const bool digestFirst = !line.empty() && line.front() != '%';
    if (!m_random.empty() && (!m_authenticated || digestFirst)) {
        const std::string expected = m_authentication.md5Hex(m_random + m_projector.password);
        if (!digestFirst || line.size() < kDigestChars ||
            !sameDigest(line.substr(0, kDigestChars), expected)) {
            m_connection.write("PJLINK ERRA\r");
            return close();
        }
        m_authenticated = true;
        line.remove_prefix(kDigestChars);
    }
    if (line.empty())
        return;
    // Without "%", a class and a command name there is nothing to answer to: what sent it
    // does not speak PJLink.
    if (line.size() < 6 || line.size() > kMaxCommandBytes - 1 || line[0] != '%' ||
        !std::all_of(line.begin() + 1, line.begin() + 6, visible)) {
        return close();
    }
    const std::string head = std::string(line.substr(0, 6)) + "=";
    if (line[1] != '1')
        return reply(head, "ERR1");
    const std::string_view parameter = line.size() > 7 && line[6] == ' ' ? line.substr(7) : "";
    std::optional<Plan> planned = plan(line.substr(2, 4), parameter, m_projector);
    if (!planned)
        return reply(head, "ERR1");
    if (planned->codes.empty())
        return reply(head, planned->immediate);
    m_job = std::make_unique<Job>(Job{head, std::move(*planned), 0, {}, {}});
    step();
}

void PjlinkSession::step()
{
    m_job->frame = buildFrame(m_projector.idPrefix, m_job->plan.codes[m_job->next]);
    m_queue.request(m_job->frame, m_alive,
                    [this](const TransactionResult &result) { stepEnded(result); });
}

void PjlinkSession::stepEnded(const TransactionResult &result)
{
    Job &job = *m_job;
    // No reply within the time-out, or no line to send on: the projector has failed.
    if (result.end != TransactionEnd::Reply)
        return reply(job.head, "ERR4");
    // A projector refuses what it cannot do now: in standby, while it warms up or cools.
    if (result.reply == kNakReply)
        return reply(job.head, "ERR3");
    const bool fits = job.plan.set
                          ? result.reply == kAckReply
                          : decodeReply(result.reply, job.frame, m_projector.idPrefix).has_value();
    if (!fits) {
        m_queue.distrust();
        return reply(job.head, "ERR4");
    }
    if (!job.plan.set)
        job.replies.push_back(result.reply.substr(0, result.reply.size() - 1));
    if (++job.next < job.plan.codes.size())
        return step();
    reply(job.head, job.plan.set ? "OK" : job.plan.answer(m_projector, job.replies));
}

void PjlinkSession::reply(std::string_view head, std::string_view value)
{
    std::string line(head);
    line += value;
    line += '\r';
    m_job.reset();
    m_idle->start(kIdleCloseMs);
    m_connection.write(line);
    next();
}

void PjlinkSession::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_idle->stop();
    m_alive.reset();
    m_job.reset();
    m_waiting.clear();
    m_connection.close();
}
