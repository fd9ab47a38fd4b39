#include "core/panel/portrouter.h"

PortRouter::PortRouter(DeviceMap devices, SerialControl &local, SerialControl &network)
    : m_devices(std::move(devices)), m_local(local), m_network(network)
{
    m_local.setEvents(this);
    m_network.setEvents(this);
}

PortRouter::~PortRouter()
{
    m_local.setEvents(nullptr);
    m_network.setEvents(nullptr);
}

SerialControl &PortRouter::active() const
{
    return m_devices.isNetwork(m_commPort) ? m_network : m_local;
}

SerialControl &PortRouter::inactive() const
{
    return m_devices.isNetwork(m_commPort) ? m_local : m_network;
}

void PortRouter::setCommPort(int port)
{
    m_commPort = port;
    m_local.setCommPort(port);
    m_network.setCommPort(port);
}

bool PortRouter::setSettings(std::string_view settings)
{
    const bool local = m_local.setSettings(settings);
    const bool network = m_network.setSettings(settings);
    return local && network;
}

std::optional<SerialError> PortRouter::setPortOpen(bool open)
{
    if (!open) {
        m_local.closePort();
        m_network.closePort();
        return std::nullopt;
    }
    // The other port's line still open: opening again is opening an open port, which fails.
    if (inactive().portOpen())
        return inactive().setPortOpen(true);
    return active().setPortOpen(true);
}

bool PortRouter::output(std::string_view frame)
{
    return m_local.portOpen() ? m_local.output(frame) : m_network.output(frame);
}
