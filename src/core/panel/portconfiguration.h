#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/panel/serialcontrol.h"

class MessageBox;
class ComSettingsFrame;

// Which port the panel uses and at which speed: the start-up opening, the COM1/COM2 and
// 19200/9600 options. Owns the settings text in force (commSettings).
class PortConfiguration {
public:
    static constexpr std::string_view kSettings19200 = "19200,N,8,1";
    static constexpr std::string_view kSettings9600 = "9600,N,8,1";

    PortConfiguration(SerialControl &comm, ComSettingsFrame &settingsFrame, MessageBox &messages,
                      std::string appTitle);

    // Port 1 at 19200 baud, opened. Not guarded: the error is the caller's.
    [[nodiscard]] std::optional<SerialError> openAtStartUp();

    // The COM1 (1) and COM2 (2) options. The port is opened on the new number whether or not
    // it was open before: a selection that left the port closed would look like success while
    // every frame went nowhere. A failure is reported in a warning box, the number goes back
    // to the other port and the settings frame stays up.
    void selectPort(int port);
    // The 19200 and 9600 options: applied at once, also to an open port.
    void selectSpeed(std::string_view settings);

    // The end of an opening that the serial control finished after setPortOpen() returned
    // (a network port connecting). A failed selection warns as a refused one does: the number
    // goes back to the other port and the settings frame comes up again. True when it was the
    // start-up opening that failed, which ends the panel: the caller's, as at start-up.
    void opened() { m_pending = Pending::None; }
    [[nodiscard]] bool openFailed(const SerialError &error);

    const std::string &commSettings() const { return m_commSettings; }

private:
    enum class Pending { None, StartUp, Selection };

    void applySettings();

    SerialControl &m_comm;
    ComSettingsFrame &m_settingsFrame;
    MessageBox &m_messages;
    std::string m_appTitle;
    std::string m_commSettings;
    Pending m_pending = Pending::None;
};
