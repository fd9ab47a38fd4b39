#pragma once

#include <string>
#include <string_view>

// Port numbers as the panel knows them, mapped to device paths. The options --com1 and --com2
// (or the settings file) map them to other devices: USB adapters, /dev/serial/by-id names,
// pseudo-terminals, or a serial server on the network (rfc2217://HOST:PORT, tcp://HOST:PORT).
struct DeviceMap {
    std::string com1 = "/dev/ttyS0";
    std::string com2 = "/dev/ttyS1";

    const std::string &path(int port) const { return port == 2 ? com2 : com1; }
    bool isNetwork(int port) const { return isNetworkName(path(port)); }

    static bool isNetworkName(std::string_view name)
    {
        return name.starts_with("rfc2217://") || name.starts_with("tcp://");
    }
};
