#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/panel/commandsender.h"
#include "core/panel/comsettingsframe.h"
#include "core/panel/holdengine.h"
#include "core/panel/portconfiguration.h"
#include "core/panel/serialcontrol.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/oneshotbuttons.h"

class Clock;
class MessageBox;
class PanelDisplays;

// The panel without its widgets: the send step, the traffic monitor, the hold engine, the port
// choice and the COM settings frame, wired to each other and to the serial control's reports. The
// window hands it the operator's actions; tests and fuzzers drive it alone.
class PanelCore final : private SerialControl::Events {
public:
    PanelCore(Clock &clock, SerialControl &comm, PanelDisplays &displays, MessageBox &messages,
              std::string appTitle);
    ~PanelCore();
    PanelCore(const PanelCore &) = delete;
    PanelCore &operator=(const PanelCore &) = delete;

    // The start-up steps of the panel's state: no address, nothing held, awaited or received,
    // COM1 opened at 19200 baud. The error, if COM1 cannot be had, is the caller's.
    [[nodiscard]] std::optional<SerialError> startUp();

    // The send step of every command button, with the code alone.
    void sendCommand(std::string_view code) { m_commands.sendCommand(code); }
    void click(const OneShotButton &button);
    void press(const HoldButton &button) { m_holds.press(button); }
    void release(const HoldButton &button) { m_holds.release(button); }
    // Told when a hold was ended by its safety stop rather than by a release.
    void setOnHoldSafetyStop(std::function<void()> onStop)
    {
        m_holds.setOnSafetyStop(std::move(onStop));
    }
    void selectAddress(const AddressOption &option) { m_commands.selectAddress(option); }
    void selectPort(int port) { m_ports.selectPort(port); }
    void selectSpeed(std::string_view settings) { m_ports.selectSpeed(settings); }
    // The COM button.
    void showPortSettings() { m_settingsFrame.show(); }
    // Switching the view keeps the COM settings frame up for a full time-out.
    void restartPortSettingsTimeout() { m_settingsFrame.restartTimeout(); }

    // A start-up opening that the serial control finished later and that failed: the panel
    // must end as when COM1 cannot be opened at start-up.
    void setOnStartUpFailure(std::function<void(const SerialError &)> onFailure)
    {
        m_onStartUpFailure = std::move(onFailure);
    }
    // Any other opening that failed later: the port number has gone back to the other port,
    // and whatever shows the port choice must show that one.
    void setOnPortChoiceUndone(std::function<void()> onUndone)
    {
        m_onPortChoiceUndone = std::move(onUndone);
    }

    // The END button: the port closes and nothing runs any more, no tick and no serial event.
    void end();
    // Nothing runs any more; the port stays as it is.
    void stop();

    const CommandSender &commands() const { return m_commands; }
    const TrafficMonitor &traffic() const { return m_traffic; }
    const HoldEngine &holds() const { return m_holds; }
    const PortConfiguration &ports() const { return m_ports; }
    const ComSettingsFrame &settingsFrame() const { return m_settingsFrame; }

private:
    // Where the send step hands each frame it built.
    void send(const std::string &frame);
    void received(std::string_view bytes) override;
    void lost() override;
    void opened() override { m_ports.opened(); }
    void openFailed(const SerialError &error) override;

    SerialControl &m_comm;
    ComSettingsFrame m_settingsFrame;
    CommandSender m_commands;
    // Reads back from the sender what was sent last and the address in force, to decode.
    TrafficMonitor m_traffic;
    HoldEngine m_holds;
    PortConfiguration m_ports;
    std::function<void(const SerialError &)> m_onStartUpFailure;
    std::function<void()> m_onPortChoiceUndone;
};
