#include "core/protocol/holdbuttons.h"

std::optional<std::string_view> repeatCommand(std::uint8_t heldKey)
{
    if (heldKey == kSelectReleasedCode)
        return kSelectReleasedCommand;
    for (const HoldButton &button : kHoldButtons) {
        if (button.code == heldKey)
            return button.command;
    }
    return std::nullopt;
}

const HoldButton *findHoldButton(std::string_view control)
{
    for (const HoldButton &button : kHoldButtons) {
        if (button.control == control)
            return &button;
    }
    return nullptr;
}
