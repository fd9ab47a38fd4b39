#pragma once

#include <optional>
#include <string>

// The device the panel's settings file maps COM1 to ("com1=" in
// $XDG_CONFIG_HOME/koru-panel/koru-panel.conf), or nothing when there is no such file or line.
// The one place koru-ctl reads the panel's settings: it gives way to the panel's own reader
// once that exists.
std::optional<std::string> panelCom1();
