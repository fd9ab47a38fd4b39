#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/protocol/frame.h"

// The one send step of every command button: frames a code under the projector address in
// force and hands the frame on to whatever the owner wired it to. Owns the address (idPrefix)
// and the frame last sent (lastCommand).
class CommandSender {
public:
    using HandOn = std::function<void(const std::string &frame)>;

    explicit CommandSender(HandOn handOn);

    // No queue, no pause, no check for an earlier unanswered frame.
    void sendCommand(std::string_view code);
    // The PJ Select options.
    void selectAddress(const AddressOption &option);
    // Start-up: no prefix, a single projector.
    void clearAddress() { m_idPrefix.clear(); }

    const std::string &idPrefix() const { return m_idPrefix; }
    const std::string &lastCommand() const { return m_lastCommand; }

private:
    HandOn m_handOn;
    std::string m_idPrefix;
    std::string m_lastCommand;
};
