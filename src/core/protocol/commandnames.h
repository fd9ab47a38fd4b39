#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HoldButton;

// The panel's commands by name, for programs without the panel's buttons. A view over the
// one-shot and hold tables, which hold the names: nothing here is a list of its own.
struct NamedCommand {
    std::string_view name;
    std::string_view code;
    std::string description;           // the button's heading and caption
    const HoldButton *hold = nullptr;  // the hold button, for a command that repeats
    bool query = false;                // a status query: the reply is decoded
};

// Every one-shot command, then every hold command, in the tables' order.
std::vector<NamedCommand> namedCommands();
std::optional<NamedCommand> findCommand(std::string_view name);
