#include "qt/netserialcontrol.h"

#include <QMetaObject>

#include "core/panel/clock.h"
#include "qt/opendiagnosis.h"
#include "qt/qtserialcontrol.h"

namespace {

SerialErrorCode codeFor(NetFailure failure)
{
    switch (failure) {
    case NetFailure::HostNotFound:
        return SerialErrorCode::HostNotFound;
    case NetFailure::Refused:
        return SerialErrorCode::ConnectionRefused;
    case NetFailure::TimedOut:
        return SerialErrorCode::TimedOut;
    case NetFailure::SettingsRejected:
        return SerialErrorCode::SettingsRejected;
    case NetFailure::NoAnswer:
        return SerialErrorCode::NoAnswer;
    case NetFailure::Closed:
    case NetFailure::Other:
        break;
    }
    return SerialErrorCode::Other;
}

}  // namespace

NetSerialControl::NetSerialControl(DeviceMap devices, const Clock &clock, QObject *parent)
    : QObject(parent), m_devices(std::move(devices)), m_clock(clock)
{
    m_backlog.setSettings(m_lineSettings);
    NetLine::Events events;
    events.opened = [this](std::optional<NetError> error) {
        post([this, error = std::move(error)] { onOpened(error); });
    };
    events.received = [this](std::string bytes) {
        post([this, bytes = std::move(bytes)] { onReceived(bytes); });
    };
    events.lost = [this] { post([this] { onLost(); }); };
    events.settingsRejected = [this](NetError error) {
        post([this, error = std::move(error)] { onSettingsRejected(error); });
    };
    m_line = std::make_unique<NetLine>(std::move(events));
}

NetSerialControl::~NetSerialControl()
{
    // Joins the line's thread before the members its events use go away.
    m_line.reset();
}

template <typename Handler>
void NetSerialControl::post(Handler handler)
{
    const quint64 generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, handler = std::move(handler)] {
            if (generation == m_generation.load())
                handler();
        },
        Qt::QueuedConnection);
}

bool NetSerialControl::setSettings(std::string_view settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return false;
    m_lineSettings = *parsed;
    m_backlog.setSettings(m_lineSettings);
    m_settingsText = std::string(settings);
    // Data bits, parity and stop bits are 8N1 in every text the panel hands over; the speed
    // is what changes. A raw tcp:// line has no way to change it.
    if (m_state == State::Open)
        m_line->setBaud(m_lineSettings.baud);
    return true;
}

std::optional<SerialError> NetSerialControl::setPortOpen(bool open)
{
    if (!open) {
        close();
        return std::nullopt;
    }
    const std::string &url = m_devices.path(m_commPort);
    if (portOpen()) {
        return SerialError{SerialErrorCode::AlreadyOpen,
                           describeNetFailure(m_commPort, url, SerialErrorCode::Other,
                                              "the port is already open")};
    }
    m_address = parseNetAddress(url);
    if (!m_address) {
        return SerialError{SerialErrorCode::BadSettings,
                           describeNetFailure(m_commPort, url, SerialErrorCode::BadSettings, {})};
    }
    close();
    m_state = State::Connecting;
    m_line->open(*m_address, m_lineSettings.baud, kConnectTimeout);
    return std::nullopt;
}

void NetSerialControl::close()
{
    // Once close() returns the line delivers nothing more of this connection; what it handed
    // over before is dropped by the new generation.
    m_line->close();
    ++m_generation;
    m_state = State::Closed;
    m_backlog.clear();
}

qint64 NetSerialControl::pendingOutput() const
{
    if (m_state != State::Open)
        return 0;
    const auto unsent = static_cast<qint64>(m_line->pending());
    if (m_address->kind != NetAddress::Kind::Rfc2217)
        return unsent;
    // What the line has not taken yet is part of what the far line still has to carry.
    return std::max<qint64>(unsent, m_backlog.bytesOnLine(m_clock.now()));
}

bool NetSerialControl::output(std::string_view frame)
{
    if (m_state != State::Open)
        return false;
    const auto size = static_cast<qint64>(frame.size());
    if (pendingOutput() + size > QtSerialControl::kOutputBufferBytes ||
        !m_line->write(frame, QtSerialControl::kOutputBufferBytes)) {
        ++m_droppedFrames;
        return false;
    }
    m_backlog.wrote(size, m_clock.now());
    return true;
}

SerialError NetSerialControl::errorFor(const NetError &error) const
{
    const SerialErrorCode code = codeFor(error.failure);
    return {code, describeNetFailure(m_commPort, m_devices.path(m_commPort), code, error.detail)};
}

void NetSerialControl::onOpened(const std::optional<NetError> &error)
{
    if (m_state != State::Connecting)
        return;
    if (error) {
        close();
        reportOpenFailed(errorFor(*error));
        return;
    }
    m_state = State::Open;
    reportOpened();
}

void NetSerialControl::onReceived(const std::string &bytes)
{
    if (m_state == State::Open)
        reportReceived(bytes);
}

void NetSerialControl::onLost()
{
    if (m_state != State::Open)
        return;
    close();
    reportLost();
}

void NetSerialControl::onSettingsRejected(const NetError &error)
{
    if (m_state != State::Open)
        return;
    // A line left at a speed other than the one the panel shows would garble every reply.
    close();
    reportOpenFailed(errorFor(error));
}
