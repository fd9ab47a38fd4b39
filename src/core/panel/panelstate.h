#pragma once

#include <cstdint>
#include <string>

// The state that every handler of the panel shares. Text starts empty and bytes at 0 when the
// panel is created; the start-up sequence sets what it sets and leaves the rest.
struct PanelState {
    std::uint8_t heldKey = 0;        // code of the hold button held down, 0 for none
    std::uint8_t awaitingReply = 0;  // 1 from a send until a reply or the reply time-out
    std::uint8_t arrowMode = 0;      // how the arrow pad was last set up: 0, 1 or 3
    std::string lastCommand;         // the whole frame last sent
    std::string rxBuffer;            // everything received since it was last emptied
    std::string commSettings;        // "19200,N,8,1" or "9600,N,8,1"
    std::string idPrefix;            // "", "AFFF" or "A001" to "A004"
};
