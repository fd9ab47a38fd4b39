#include "qt/qtserialcontrol.h"

#include <QMetaObject>
#include <algorithm>

#include "core/panel/clock.h"
#include "qt/deviceline.h"
#include "qt/networkline.h"
#include "qt/opendiagnosis.h"

QtSerialControl::QtSerialControl(DeviceMap devices, const Clock &clock, QObject *parent)
    : QObject(parent), m_devices(std::move(devices)), m_clock(clock)
{
    m_backlog.setSettings(m_lineSettings);
}

QtSerialControl::~QtSerialControl()
{
    // Stops the transport's thread before the members its events use go away.
    m_transport.reset();
}

template <typename Handler>
void QtSerialControl::post(Handler handler)
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

LineTransport &QtSerialControl::transportFor(const std::string &name)
{
    const bool network = DeviceMap::isNetworkName(name);
    // A network line is the one transport that does not open at once.
    if (m_transport && m_transport->opensAtOnce() != network)
        return *m_transport;
    LineTransport::Events events;
    events.received = [this] { post([this] { onReceived(); }); };
    events.lost = [this] { post([this] { onLost(); }); };
    events.opened = [this](std::optional<SerialError> error) {
        post([this, error = std::move(error)] { onOpened(error); });
    };
    events.settingsRefused = [this](SerialError error) {
        post([this, error = std::move(error)] { onSettingsRefused(error); });
    };
    m_transport.reset();
    if (network)
        m_transport = std::make_unique<NetworkLine>(std::move(events));
    else
        m_transport = std::make_unique<DeviceLine>(std::move(events));
    return *m_transport;
}

bool QtSerialControl::setSettings(std::string_view settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return false;
    m_lineSettings = *parsed;
    m_backlog.setSettings(m_lineSettings);
    m_settingsText = std::string(settings);
    if (m_state == State::Open)
        m_transport->setSettings(m_lineSettings);
    return true;
}

std::optional<SerialError> QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        close();
        return std::nullopt;
    }
    const std::string &name = m_devices.path(m_commPort);
    if (portOpen()) {
        const std::string detail = "the port is already open";
        return SerialError{
            SerialErrorCode::AlreadyOpen,
            DeviceMap::isNetworkName(name)
                ? describeNetFailure(m_commPort, name, SerialErrorCode::Other, detail)
                : describeOpenFailure(m_commPort, name, SerialErrorCode::Other, detail)};
    }
    close();
    LineTransport &transport = transportFor(name);
    if (auto error = transport.open(m_commPort, name, m_lineSettings)) {
        close();
        return error;
    }
    m_state = transport.opensAtOnce() ? State::Open : State::Connecting;
    return std::nullopt;
}

void QtSerialControl::close()
{
    // Once the transport has closed it delivers nothing more of this opening; what it handed
    // over before is dropped by the new generation.
    if (m_transport)
        m_transport->close();
    ++m_generation;
    m_state = State::Closed;
    m_backlog.clear();
}

qint64 QtSerialControl::pendingOutput() const
{
    if (m_state != State::Open)
        return 0;
    const auto unsent = static_cast<qint64>(m_transport->unsent());
    // A line that takes bytes faster than its speed (a pseudo-terminal, a serial server) is
    // still carrying what the speed says it is.
    if (!m_transport->knowsLineSpeed())
        return unsent;
    return std::max<qint64>(unsent, m_backlog.bytesOnLine(m_clock.now()));
}

bool QtSerialControl::output(std::string_view frame)
{
    if (m_state != State::Open)
        return false;
    const auto size = static_cast<qint64>(frame.size());
    if (pendingOutput() + size > kOutputBufferBytes || !m_transport->write(frame)) {
        ++m_droppedFrames;
        return false;
    }
    m_backlog.wrote(size, m_clock.now());
    return true;
}

void QtSerialControl::onReceived()
{
    if (m_state != State::Open)
        return;
    const std::string bytes = m_transport->takeReceived();
    if (!bytes.empty())
        reportReceived(bytes);
}

void QtSerialControl::onOpened(const std::optional<SerialError> &error)
{
    if (m_state != State::Connecting)
        return;
    if (error) {
        close();
        reportOpenFailed(*error);
        return;
    }
    m_state = State::Open;
    reportOpened();
}

void QtSerialControl::onLost()
{
    if (m_state != State::Open)
        return;
    // The line went away (an adapter pulled out, the far end closed, a connection dropped).
    close();
    reportLost();
}

void QtSerialControl::onSettingsRefused(const SerialError &error)
{
    if (m_state != State::Open)
        return;
    // A line left at a speed other than the one the panel shows would garble every reply.
    close();
    reportOpenFailed(error);
}
