#include "core/panel/panelcore.h"

PanelCore::PanelCore(Clock &clock, SerialControl &comm, PanelDisplays &displays,
                     MessageBox &messages, std::string appTitle)
    : m_comm(comm),
      m_settingsFrame(clock, displays),
      m_commands([this](const std::string &frame) { send(frame); }),
      m_traffic(clock, comm, displays, m_commands),
      m_holds(clock, m_commands, m_traffic),
      m_ports(comm, m_settingsFrame, messages, std::move(appTitle))
{
    m_comm.setEvents(this);
}

PanelCore::~PanelCore()
{
    m_comm.setEvents(nullptr);
}

std::optional<SerialError> PanelCore::startUp()
{
    m_commands.clearAddress();
    m_holds.reset();
    m_traffic.reset();
    return m_ports.openAtStartUp();
}

void PanelCore::click(const OneShotButton &button)
{
    m_commands.sendCommand(button.code);
    if (button.extra == OneShotButton::Extra::MenuArrowPad)
        m_holds.setUpArrowsForMenu();
}

void PanelCore::send(const std::string &frame)
{
    const bool portClosed = !m_comm.portOpen();
    m_traffic.Hyouji(frame, TrafficMonitor::Mode::Send);
    // A frame sent with no port open goes nowhere: bring up the port choice for a full time-out
    // from this send, so the operator sees that a port must be chosen.
    if (portClosed) {
        m_settingsFrame.show();
        m_settingsFrame.restartTimeout();
    }
}

void PanelCore::end()
{
    m_comm.closePort();
    stop();
}

void PanelCore::stop()
{
    m_holds.stop();
    m_traffic.stop();
    m_settingsFrame.stop();
    m_comm.setEvents(nullptr);
}

void PanelCore::received(std::string_view bytes)
{
    m_traffic.MSComm1_OnComm(bytes);
}

void PanelCore::openFailed(const SerialError &error)
{
    if (m_ports.openFailed(error)) {
        if (m_onStartUpFailure)
            m_onStartUpFailure(error);
    } else if (m_onPortChoiceUndone) {
        m_onPortChoiceUndone();
    }
}

void PanelCore::lost()
{
    // The serial control has closed the port already. The port choice comes up at once, so
    // the operator sees the port is gone before a frame is sent into nothing.
    m_settingsFrame.show();
}
