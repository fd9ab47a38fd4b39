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

    enum class NetScheme { None, Rfc2217, Tcp };

    // The one test of whether a port name is a network address: by its scheme, which is
    // case-insensitive as in any URL ("RFC2217://HOST:PORT" too).
    static NetScheme networkScheme(std::string_view name)
    {
        const auto schemeIs = [name](std::string_view scheme) {
            if (name.size() < scheme.size() + 3 || name.substr(scheme.size(), 3) != "://")
                return false;
            for (std::size_t i = 0; i < scheme.size(); ++i) {
                const char c = name[i];
                if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != scheme[i])
                    return false;
            }
            return true;
        };
        if (schemeIs("rfc2217"))
            return NetScheme::Rfc2217;
        if (schemeIs("tcp"))
            return NetScheme::Tcp;
        return NetScheme::None;
    }
    static bool isNetworkName(std::string_view name)
    {
        return networkScheme(name) != NetScheme::None;
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
