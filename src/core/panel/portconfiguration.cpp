#include "core/panel/portconfiguration.h"

#include <cassert>

#include "core/panel/messagebox.h"
#include "core/panel/trafficmonitor.h"

PortConfiguration::PortConfiguration(SerialControl &comm, TrafficMonitor &traffic,
                                     MessageBox &messages, std::string appTitle)
    : m_comm(comm), m_traffic(traffic), m_messages(messages), m_appTitle(std::move(appTitle))
{
}

std::optional<SerialError> PortConfiguration::openAtStartUp()
{
    m_commSettings = std::string(kSettings19200);
    m_comm.setCommPort(1);
    applySettings();
    return m_comm.setPortOpen(true);
}

void PortConfiguration::selectPort(int port)
{
    if (m_comm.portOpen())
        m_comm.closePort();
    m_comm.setCommPort(port);
    if (const auto error = m_comm.setPortOpen(true)) {
        m_messages.show(MessageBox::Icon::Warning, m_appTitle, error->description);
        m_comm.setCommPort(port == 1 ? 2 : 1);
        return;
    }
    m_traffic.hidePortSettings();
}

void PortConfiguration::selectSpeed(std::string_view settings)
{
    m_commSettings = std::string(settings);
    applySettings();
    m_traffic.hidePortSettings();
}

void PortConfiguration::applySettings()
{
    // Only the two texts above are ever handed over, and every serial control takes them.
    [[maybe_unused]] const bool applied = m_comm.setSettings(m_commSettings);
    assert(applied);
}
