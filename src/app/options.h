#pragma once

#include <string>
#include <vector>

#include "core/panel/devicemap.h"

// The command line of koru-panel. Without options (and without a settings file) the panel
// runs as designed: COM1 and COM2 on the first two serial devices.
struct Options {
    enum class Action { Run, Help, Version, ListPorts, SavePorts, Error };

    Action action = Action::Run;
    DeviceMap devices;  // the designed mapping, with what --com1 and --com2 give over it
    bool mapsCom1 = false;
    bool mapsCom2 = false;
    bool demo = false;
    std::string logPath;  // the traffic log; empty: none
    // Qt's -platform and -display, in whichever form they were given; Qt takes them itself.
    std::string qtPlatform;  // empty: none given
    bool qtDisplay = false;
    std::string error;  // for Action::Error

    static Options parse(const std::vector<std::string> &arguments);
    // The mapping in force: the command line's over the settings file's.
    DeviceMap over(DeviceMap settings) const;
};

std::string usage();
std::string versionText();
