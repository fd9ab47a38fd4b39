#include "core/panel/portconfiguration.h"

#include <cassert>
#include <utility>

#include "core/panel/comsettingsframe.h"
#include "core/panel/messagebox.h"

PortConfiguration::PortConfiguration(SerialControl &comm, ComSettingsFrame &settingsFrame,
                                     MessageBox &messages, std::string appTitle)
    : m_comm(comm),
      m_settingsFrame(settingsFrame),
      m_messages(messages),
      m_appTitle(std::move(appTitle))
{
}

std::optional<SerialError> PortConfiguration::openAtStartUp()
{
    m_commSettings = std::string(kSettings19200);
    m_comm.setCommPort(1);
    applySettings();
    auto error = m_comm.setPortOpen(true);
    m_pending = !error && m_comm.opening() ? Pending::StartUp : Pending::None;
    return error;
}

void PortConfiguration::selectPort(int port)
{
    // The port in force still connecting: a second connection would be refused by a server
    // that takes one client at a time while it is still closing the first.
    if (m_comm.opening() && port == m_comm.commPort()) {
        m_settingsFrame.hide();
        return;
    }
    if (m_comm.portOpen())
        m_comm.closePort();
    m_comm.setCommPort(port);
    // The start-up opening of COM1 is done twice (the start-up step, then the COM1 option);
    // until one of them connects, a failure is still the start-up's.
    const bool startingUp = m_pending == Pending::StartUp;
    m_pending = Pending::None;
    if (const auto error = m_comm.setPortOpen(true)) {
        m_messages.show(MessageBox::Icon::Warning, m_appTitle, error->description);
        m_comm.setCommPort(port == 1 ? 2 : 1);
        return;
    }
    if (m_comm.opening())
        m_pending = startingUp ? Pending::StartUp : Pending::Selection;
    m_settingsFrame.hide();
}

bool PortConfiguration::openFailed(const SerialError &error)
{
    const Pending pending = std::exchange(m_pending, Pending::None);
    if (pending == Pending::StartUp)
        return true;
    m_messages.show(MessageBox::Icon::Warning, m_appTitle, error.description);
    if (pending == Pending::Selection) {
        m_comm.setCommPort(m_comm.commPort() == 1 ? 2 : 1);
        m_settingsFrame.show();
    }
    return false;
}

void PortConfiguration::selectSpeed(std::string_view settings)
{
    m_commSettings = std::string(settings);
    applySettings();
    m_settingsFrame.hide();
}

void PortConfiguration::applySettings()
{
    // Only the two texts above are ever handed over, and every serial control takes them.
    [[maybe_unused]] const bool applied = m_comm.setSettings(m_commSettings);
    assert(applied);
}
