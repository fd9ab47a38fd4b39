#include "core/panel/portsettings.h"

#include "core/protocol/escaping.h"
#include "core/protocol/trimming.h"

PortSettings PortSettings::parse(std::string_view text, DeviceMap defaults)
{
    PortSettings settings{std::move(defaults), {}};
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line.front() == '#')
            continue;
        const auto equals = line.find('=');
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = equals == std::string_view::npos
                                           ? std::string_view{}
                                           : trimmed(line.substr(equals + 1));
        std::string *target = key == "com1"   ? &settings.devices.com1
                              : key == "com2" ? &settings.devices.com2
                                              : nullptr;
        // The line is quoted escaped: it may hold a byte-order mark, a NUL or worse.
        const std::string quoted =
            "line " + std::to_string(number) + ": \"" + escapeTraffic(line) + "\" ";
        if (!target || value.empty()) {
            settings.problems.push_back(quoted + "is not com1=NAME or com2=NAME; ignored");
            continue;
        }
        if (!DeviceMap::isUsableName(value)) {
            settings.problems.push_back(quoted + "names a device with a control character in it; " +
                                        "ignored");
            continue;
        }
        *target = std::string(value);
    }
    return settings;
}

std::string PortSettings::update(std::string_view text, const DeviceMap &devices)
{
    if (trimmed(text).empty())
        return format(devices);
    std::string updated;
    bool wrote1 = false;
    bool wrote2 = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string_view key = trimmed(line.substr(0, line.find('=')));
        const bool owned = line.find('=') != std::string_view::npos && !trimmed(line).empty() &&
                           trimmed(line).front() != '#';
        if (owned && key == "com1") {
            updated += "com1=" + devices.com1 + "\n";
            wrote1 = true;
        } else if (owned && key == "com2") {
            updated += "com2=" + devices.com2 + "\n";
            wrote2 = true;
        } else {
            updated.append(line).append("\n");
        }
    }
    if (!wrote1)
        updated += "com1=" + devices.com1 + "\n";
    if (!wrote2)
        updated += "com2=" + devices.com2 + "\n";
    return updated;
}

std::string PortSettings::format(const DeviceMap &devices)
{
    return "# The devices that koru-panel's COM1 and COM2 stand for: a device path,\n"
           "# rfc2217://HOST:PORT or tcp://HOST:PORT. Written by koru-panel --save-ports.\n"
           "com1=" +
           devices.com1 + "\ncom2=" + devices.com2 + "\n";
}
