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
    // Whether a name can stand for a port: not empty, and no control character in it. A NUL
    // would cut the name short where the system reads it, and a line break would be written
    // into the lock file's name and split every message that quotes the name.
    static bool isUsableName(std::string_view name)
    {
        if (name.empty())
            return false;
        for (const char c : name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                return false;
        }
        return true;
    }
};
