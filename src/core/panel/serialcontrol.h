#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Why a port could not be opened: a number for the operator to quote and a description that
// says what to do about it.
struct SerialError {
    int number = 0;
    std::string description;
};

// The serial control the panel talks through. Everything the panel does with the line goes
// through these members.
class SerialControl {
public:
    // CommEvent codes. Only the receive event is acted on; the rest are raised for
    // completeness and ignored by the panel.
    static constexpr int kEventReceive = 2;
    static constexpr int kEventPortLost = 1010;

    virtual ~SerialControl() = default;

    virtual void setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    // "19200,N,8,1" form; applied at once to an open port.
    virtual void setSettings(std::string_view settings) = 0;
    virtual std::string settings() const = 0;
    virtual bool portOpen() const = 0;
    // Opens or closes the port; opening an open port or a port that cannot be had fails.
    virtual std::optional<SerialError> setPortOpen(bool open) = 0;
    // Writes one frame whole, or drops it whole when the port is closed or its output buffer
    // cannot take all of it.
    virtual void output(std::string_view frame) = 0;
    // Everything received and not yet read, one character per byte.
    virtual std::string input() = 0;
    virtual int commEvent() const = 0;

    // OnComm: raised with commEvent() set; kEventReceive as soon as one byte waits.
    void setOnComm(std::function<void()> onComm) { m_onComm = std::move(onComm); }

protected:
    void raiseOnComm()
    {
        if (m_onComm)
            m_onComm();
    }

private:
    std::function<void()> m_onComm;
};
