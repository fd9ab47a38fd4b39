#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/panel/devicemap.h"

// The settings file's text: one "com1=NAME" or "com2=NAME" a line, over the mapping given;
// blank lines and lines that start with '#' say nothing. problems names each line that is
// none of these, so that a typing mistake is told and not silently ignored.
struct PortSettings {
    DeviceMap devices;
    std::vector<std::string> problems;

    static PortSettings parse(std::string_view text, DeviceMap defaults = {});
    // The text that parse() reads back as devices.
    static std::string format(const DeviceMap &devices);
    // text with its com1= and com2= lines set to devices, and every other line (comments, lines
    // it does not know) kept as it was; a line missing is added at the end. format() for an
    // empty text.
    static std::string update(std::string_view text, const DeviceMap &devices);
};
