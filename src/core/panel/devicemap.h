#pragma once

#include <string>

// Port numbers as the panel knows them, mapped to device paths. The options --com1 and --com2
// map them to other devices: USB adapters, /dev/serial/by-id names, pseudo-terminals.
struct DeviceMap {
    std::string com1 = "/dev/ttyS0";
    std::string com2 = "/dev/ttyS1";

    const std::string &path(int port) const { return port == 2 ? com2 : com1; }
};
