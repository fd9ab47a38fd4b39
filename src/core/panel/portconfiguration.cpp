#include "core/panel/portconfiguration.h"

#include "core/panel/messagebox.h"

PortConfiguration::PortConfiguration(PanelState &state, SerialControl &comm,
                                     PanelDisplays &displays, MessageBox &messages,
                                     std::string appTitle)
    : m_state(state),
      m_comm(comm),
      m_displays(displays),
      m_messages(messages),
      m_appTitle(std::move(appTitle))
{
}

std::optional<SerialError> PortConfiguration::openAtStartUp()
{
    m_comm.setCommPort(1);
    m_comm.setSettings(m_state.commSettings);
    return m_comm.setPortOpen(true);
}

void PortConfiguration::selectPort(int port)
{
    if (m_comm.portOpen())
        m_comm.setPortOpen(false);
    m_comm.setCommPort(port);
    if (const auto error = m_comm.setPortOpen(true)) {
        m_messages.show(MessageBox::Icon::Warning, m_appTitle, error->description);
        m_comm.setCommPort(port == 1 ? 2 : 1);
        return;
    }
    m_displays.setFrame8Visible(false);
}

void PortConfiguration::selectSpeed(std::string_view settings)
{
    m_state.commSettings = std::string(settings);
    m_comm.setSettings(m_state.commSettings);
    m_displays.setFrame8Visible(false);
}
