#pragma once

#include "core/panel/devicemap.h"
#include "core/panel/serialcontrol.h"

// One serial control for a panel whose ports may each be a local device or a network address:
// each call goes to the control for the name that the port in force is mapped to, and both
// controls' reports come out as this one's. Both controls follow every port number and
// settings change, so either is ready when the port changes.
class PortRouter final : public SerialControl, private SerialControl::Events {
public:
    PortRouter(DeviceMap devices, SerialControl &local, SerialControl &network);
    ~PortRouter() override;
    PortRouter(const PortRouter &) = delete;
    PortRouter &operator=(const PortRouter &) = delete;

    void setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    [[nodiscard]] bool setSettings(std::string_view settings) override;
    std::string settings() const override { return active().settings(); }
    bool portOpen() const override { return m_local.portOpen() || m_network.portOpen(); }
    bool opening() const override { return m_network.opening(); }
    [[nodiscard]] std::optional<SerialError> setPortOpen(bool open) override;
    bool output(std::string_view frame) override;

private:
    SerialControl &active() const;
    SerialControl &inactive() const;

    void received(std::string_view bytes) override { reportReceived(bytes); }
    void lost() override { reportLost(); }
    void opened() override { reportOpened(); }
    void openFailed(const SerialError &error) override { reportOpenFailed(error); }

    DeviceMap m_devices;
    SerialControl &m_local;
    SerialControl &m_network;
    int m_commPort = 1;
};
