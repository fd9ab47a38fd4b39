#include "core/protocol/commandnames.h"

#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/statusdecoder.h"

namespace {

std::string describe(std::string_view heading, std::string_view caption)
{
    std::string text(heading);
    if (!text.empty() && !caption.empty())
        text.push_back(' ');
    text.append(caption);
    return text;
}

}  // namespace

std::vector<NamedCommand> namedCommands()
{
    std::vector<NamedCommand> commands;
    commands.reserve(kOneShotButtons.size() + kHoldButtons.size());
    for (const OneShotButton &button : kOneShotButtons) {
        commands.push_back({button.name, button.code, describe(button.heading, button.caption),
                            nullptr, isStatusQuery(button.code)});
    }
    for (const HoldButton &button : kHoldButtons) {
        commands.push_back({button.name, button.command,
                            describe(button.heading, button.caption) + " (hold)", &button, false});
    }
    return commands;
}

std::optional<NamedCommand> findCommand(std::string_view name)
{
    for (const NamedCommand &command : namedCommands()) {
        if (command.name == name)
            return command;
    }
    return std::nullopt;
}
