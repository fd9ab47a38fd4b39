#include "sim/qt/projectorsimulator.h"

#include <algorithm>
#include <variant>

namespace {

OutputSettings outputSettings(const SimulatorOptions &options)
{
    OutputSettings settings;
    settings.replyDelayUs = std::int64_t{std::max(options.replyDelayMs, 0)} * 1000;
    settings.byteAtATime = options.byteAtATime;
    settings.byteGapUs = std::int64_t{std::max(options.byteGapMs, 0)} * 1000;
    settings.unasked = options.unasked;
    settings.unaskedRate = options.unaskedRate;
    return settings;
}

constexpr qsizetype kReadChunk = 4096;

}  // namespace

ProjectorSimulator::ProjectorSimulator(SimulatorOptions options, QObject *parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_startUs(monotonicNowUs()),
      m_chain(m_options.chainLength, m_options.projector),
      m_output(outputSettings(m_options))
{
    // Timers with millisecond resolution: a paced byte at 19200 baud takes half of one, so
    // each wake-up catches up with whatever the line could have carried meanwhile.
    m_outputTimer.setSingleShot(true);
    m_outputTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_outputTimer, &QTimer::timeout, this, &ProjectorSimulator::pumpOutput);
    m_inputTimer.setSingleShot(true);
    m_inputTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_inputTimer, &QTimer::timeout, this, &ProjectorSimulator::resumeInput);
    connect(&m_endpoint, &PtyEndpoint::readyRead, this, &ProjectorSimulator::readInput);
    connect(&m_endpoint, &PtyEndpoint::farEndClosed, this, &ProjectorSimulator::onFarEndClosed);
    connect(&m_endpoint, &PtyEndpoint::farEndOpened, this, &ProjectorSimulator::onFarEndOpened);
}

ProjectorSimulator::~ProjectorSimulator() = default;

bool ProjectorSimulator::openPty()
{
    return m_endpoint.openPty();
}

bool ProjectorSimulator::openDevice(const QString &path, bool anyDevice)
{
    if (!m_endpoint.openDevice(path, anyDevice))
        return false;
    onFarEndOpened();
    return true;
}

void ProjectorSimulator::close()
{
    m_outputTimer.stop();
    m_inputTimer.stop();
    m_endpoint.close();
    m_reader.reset();
}

std::int64_t ProjectorSimulator::modelTimeMs() const
{
    return (monotonicNowUs() - m_startUs) / 1000;
}

void ProjectorSimulator::updateBaud()
{
    const int baud = m_options.pace ? m_endpoint.lineBaud() : 0;
    m_inputPacer.setBaud(baud);
    m_output.setBaud(baud);
}

void ProjectorSimulator::readInput()
{
    const std::int64_t nowUs = monotonicNowUs();
    updateBaud();
    const qsizetype room =
        static_cast<qsizetype>(std::min<std::size_t>(m_inputPacer.allowance(nowUs), kReadChunk));
    const QByteArray bytes = room > 0 ? m_endpoint.read(room) : QByteArray();
    if (m_inputPacer.paced()) {
        // Leave the rest in the pseudo-terminal until the line would have carried it, so the
        // backlog builds up on the panel's side as on a real line.
        if (room > 0)
            m_inputPacer.consume(static_cast<std::size_t>(bytes.size()), nowUs,
                                 bytes.size() == room);
        if (m_endpoint.farEndPresent()) {
            m_endpoint.setReadNotificationEnabled(false);
            const std::int64_t waitUs = m_inputPacer.nextByteUs(nowUs) - nowUs;
            m_inputTimer.start(static_cast<int>((waitUs + 999) / 1000));
        }
    }
    if (!bytes.isEmpty())
        takeBytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                  nowUs);
}

void ProjectorSimulator::resumeInput()
{
    m_endpoint.setReadNotificationEnabled(true);
}

void ProjectorSimulator::takeBytes(std::string_view bytes, std::int64_t nowUs)
{
    const std::int64_t nowMs = (nowUs - m_startUs) / 1000;
    for (const FrameReaderOutput &output : m_reader.feed(bytes)) {
        SimEvent event;
        event.timeUs = nowUs;
        if (const auto *frame = std::get_if<SimFrame>(&output)) {
            ChainAnswer answer = m_chain.take(*frame, nowMs);
            event.kind = SimEvent::Kind::Received;
            event.prefix = frame->prefix;
            event.code = frame->code;
            event.takenBy = answer.takenBy;
            if (answer.answeredBy != 0 && !m_options.silent)
                m_output.queueReply(std::move(answer.reply), answer.answeredBy, nowUs);
        } else {
            const auto &discarded = std::get<DiscardedBytes>(output);
            event.kind = SimEvent::Kind::Discarded;
            event.bytes = discarded.start;
            event.length = discarded.length;
        }
        Q_EMIT traffic(event);
        // Each reply goes out before the next frame is looked at, as the projector would
        // answer before it reads on.
        pumpOutputAt(nowUs);
    }
}

void ProjectorSimulator::pumpOutput()
{
    pumpOutputAt(monotonicNowUs());
}

// Writes what is due at nowUs. Given the time of the read that asked for a reply, the log
// stays in time order: a reply is never stamped later than the next frame read with it.
void ProjectorSimulator::pumpOutputAt(std::int64_t nowUs)
{
    if (!m_endpoint.farEndPresent()) {
        m_output.clear(nowUs);
        return;
    }
    updateBaud();
    for (LineWrite &write : m_output.takeDue(nowUs)) {
        // Bytes the line refused never went out: the log shows only what did.
        const bool written = m_endpoint.write(
            QByteArray(write.bytes.data(), static_cast<qsizetype>(write.bytes.size())));
        if (!written || (write.replyFrom == 0 && !write.unasked))
            continue;
        SimEvent event;
        event.timeUs = nowUs;
        if (write.unasked) {
            event.kind = SimEvent::Kind::Unasked;
            event.bytes = std::move(write.bytes);
        } else {
            event.kind = SimEvent::Kind::Replied;
            event.projector = write.replyFrom;
            event.bytes = std::move(write.reply);
        }
        Q_EMIT traffic(event);
    }
    if (const auto due = m_output.nextDueUs(nowUs)) {
        const std::int64_t waitMs = (*due - nowUs + 999) / 1000;
        m_outputTimer.start(static_cast<int>(std::min<std::int64_t>(waitMs, 1 << 30)));
    } else {
        m_outputTimer.stop();
    }
}

void ProjectorSimulator::onFarEndClosed()
{
    const std::int64_t nowUs = monotonicNowUs();
    m_reader.reset();
    m_output.clear(nowUs);
    m_outputTimer.stop();
    m_inputTimer.stop();
    SimEvent event;
    event.kind = SimEvent::Kind::Closed;
    event.timeUs = nowUs;
    Q_EMIT traffic(event);
}

void ProjectorSimulator::onFarEndOpened()
{
    const std::int64_t nowUs = monotonicNowUs();
    m_output.start(nowUs);
    m_endpoint.setReadNotificationEnabled(true);
    SimEvent event;
    event.kind = SimEvent::Kind::Opened;
    event.timeUs = nowUs;
    Q_EMIT traffic(event);
    pumpOutputAt(nowUs);
}
