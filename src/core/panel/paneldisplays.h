#pragma once

#include <string_view>

// What the serial layer changes on the panel: the three displays, the TXD display's tool tip and
// the COM settings frame.
class PanelDisplays {
public:
    virtual ~PanelDisplays() = default;
    virtual void setTxd(std::string_view text) = 0;  // Label11
    virtual void setRxd(std::string_view text) = 0;  // Label12
    // Adds more to the end of the RXD display's text, as received text grows its rendering.
    virtual void appendRxd(std::string_view more) = 0;
    virtual void setStatus(std::string_view text) = 0;  // Label22
    virtual void setFrame8Visible(bool visible) = 0;
    // Says how many frames the line could not take ("3 frames dropped: the line was busy").
    virtual void setTxdToolTip(std::string_view text) = 0;
};
