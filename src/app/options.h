#pragma once

#include <string>
#include <vector>

#include "core/panel/devicemap.h"

// The command line of koru-panel. Without options the panel runs as designed: COM1 and COM2
// on the first two serial devices.
struct Options {
    enum class Action { Run, Help, Version, Error };

    Action action = Action::Run;
    DeviceMap devices;
    bool demo = false;
    std::string logPath;  // the traffic log; empty: none
    std::string error;    // for Action::Error

    static Options parse(const std::vector<std::string> &arguments);
};

std::string usage();
std::string versionText();
