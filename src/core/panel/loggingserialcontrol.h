#pragma once

#include <string>
#include <string_view>

#include "core/panel/devicemap.h"
#include "core/panel/serialcontrol.h"

// Where a traffic log goes. Called on the send and receive paths, so it must not block:
// an implementation buffers and writes later.
class TrafficLogSink {
public:
    enum class Direction { Tx, Rx };

    virtual void record(Direction direction, std::string_view port, std::string_view bytes) = 0;

protected:
    ~TrafficLogSink() = default;
};

// "<time> TX|RX <port> <escaped bytes>", the bytes as escapeTraffic writes them.
std::string formatTrafficLine(std::string_view time, TrafficLogSink::Direction direction,
                              std::string_view port, std::string_view bytes);

// A serial control that tells a log what passes through another one and otherwise forwards
// everything to it, so that the panel's logic runs unchanged with or without a log.
class LoggingSerialControl final : public SerialControl, private SerialControl::Events {
public:
    LoggingSerialControl(SerialControl &inner, DeviceMap devices, TrafficLogSink &sink);
    ~LoggingSerialControl() override;

    void setCommPort(int port) override { m_inner.setCommPort(port); }
    int commPort() const override { return m_inner.commPort(); }
    [[nodiscard]] bool setSettings(std::string_view settings) override
    {
        return m_inner.setSettings(settings);
    }
    std::string settings() const override { return m_inner.settings(); }
    bool portOpen() const override { return m_inner.portOpen(); }
    bool opening() const override { return m_inner.opening(); }
    [[nodiscard]] std::optional<SerialError> setPortOpen(bool open) override
    {
        return m_inner.setPortOpen(open);
    }
    bool output(std::string_view frame) override;

private:
    void received(std::string_view bytes) override;
    void lost() override { reportLost(); }
    void opened() override { reportOpened(); }
    void openFailed(const SerialError &error) override { reportOpenFailed(error); }

    SerialControl &m_inner;
    DeviceMap m_devices;
    TrafficLogSink &m_sink;
};
