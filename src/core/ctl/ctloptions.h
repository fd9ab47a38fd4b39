#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of koru-ctl.
struct CtlOptions {
    enum class Action { Run, List, Help, Version, Error };

    Action action = Action::Run;
    std::optional<std::string> port;  // nothing: the panel's COM1
    int baud = 19200;
    std::string idPrefix;  // from --address
    int timeoutMs = 500;
    int repeat = 1;
    bool json = false;
    bool verbose = false;
    bool timestamp = false;
    std::string logPath;
    std::vector<std::string> commands;
    std::string error;  // for Action::Error

    static CtlOptions parse(const std::vector<std::string> &arguments);
};

std::string ctlUsage();
// What --list prints: every command's name, code and what it does, one a line.
std::string commandList();
