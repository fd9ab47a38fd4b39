#pragma once

#include <string>
#include <string_view>

#include "core/protocol/frame.h"

class FrameSink;

// The one send step of every command button: frames a code under the projector address in
// force and hands it on. Owns the address (idPrefix) and the frame last sent (lastCommand).
class CommandSender {
public:
    explicit CommandSender(FrameSink &sink);

    // No queue, no pause, no check for an earlier unanswered frame.
    void sendCommand(std::string_view code);
    // The PJ Select options.
    void selectAddress(const AddressOption &option);
    // Start-up: no prefix, a single projector.
    void clearAddress() { m_idPrefix.clear(); }

    const std::string &idPrefix() const { return m_idPrefix; }
    const std::string &lastCommand() const { return m_lastCommand; }

private:
    FrameSink &m_sink;
    std::string m_idPrefix;
    std::string m_lastCommand;
};
