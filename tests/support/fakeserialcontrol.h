#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/panel/serialcontrol.h"

// A serial control with no line behind it: it records what the panel does with it and lets a
// test play the projector's side. Every port opens unless failOpen() says otherwise.
class FakeSerialControl : public SerialControl {
public:
    std::vector<std::string> written;  // every frame output() put on the line, in order
    std::vector<std::string> log;      // "CommPort=2", "Settings=...", "PortOpen=true", ...
    int opens = 0;                     // successful openings
    int failedOpens = 0;               // openings refused by failOpen() or an open port
    int closes = 0;                    // closings of an open port
    bool busy = false;                 // the open port's output buffer is full: frames drop

    // Opening this port fails with this error until allowOpen(port).
    void failOpen(int port, SerialError error) { m_failures[port] = std::move(error); }
    void allowOpen(int port) { m_failures.erase(port); }

    // The projector sends bytes: the serial control reports them at once. Works whether or not
    // the port is open, so a test needs no opening to play a reply.
    void receive(std::string_view bytes) { reportReceived(bytes); }
    // Opens the port as the panel would, for a test that starts with it open.
    void openPort() { static_cast<void>(setPortOpen(true)); }
    // Openings stay under way until endOpening(), as a network port's connecting does.
    bool openLater = false;
    // The opening under way ends: connected, or failed and the port closed. With no opening
    // under way, a failure is a server refusing the settings of an open line.
    void endOpening(std::optional<SerialError> error = std::nullopt)
    {
        m_opening = false;
        if (!error)
            return reportOpened();
        m_open = false;
        log.push_back("open failed");
        reportOpenFailed(*error);
    }
    bool opening() const override { return m_opening; }

    // The adapter is pulled out: the port closes under the panel, and the control reports it.
    void loseLine()
    {
        m_open = false;
        log.push_back("lost");
        reportLost();
    }

    void setCommPort(int port) override
    {
        m_commPort = port;
        log.push_back("CommPort=" + std::to_string(port));
    }
    int commPort() const override { return m_commPort; }
    bool setSettings(std::string_view settings) override
    {
        m_settings = std::string(settings);
        log.push_back("Settings=" + m_settings);
        return true;
    }
    std::string settings() const override { return m_settings; }
    bool portOpen() const override { return m_open; }
    std::optional<SerialError> setPortOpen(bool open) override
    {
        if (!open) {
            log.push_back("PortOpen=false");
            if (m_open)
                ++closes;
            m_open = false;
            m_opening = false;
            return std::nullopt;
        }
        std::optional<SerialError> error;
        if (m_open)
            error = SerialError{SerialErrorCode::AlreadyOpen, "the port is already open"};
        else if (const auto failure = m_failures.find(m_commPort); failure != m_failures.end())
            error = failure->second;
        if (error) {
            log.push_back("PortOpen=true failed");
            ++failedOpens;
            return error;
        }
        log.push_back("PortOpen=true");
        ++opens;
        m_open = true;
        m_opening = openLater;
        return std::nullopt;
    }
    // A closed port writes nothing, as the real control drops the frame.
    // Called with every frame handed to output(), open port or not.
    std::function<void(std::string_view)> onOutput;

    bool output(std::string_view frame) override
    {
        if (onOutput)
            onOutput(frame);
        if (!m_open || m_opening || busy)
            return false;
        written.emplace_back(frame);
        return true;
    }

private:
    std::map<int, SerialError> m_failures;
    std::string m_settings;
    int m_commPort = 1;
    bool m_open = false;
    bool m_opening = false;
};
