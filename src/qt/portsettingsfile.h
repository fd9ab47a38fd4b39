#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel/devicemap.h"

// Where the COM1/COM2 mapping is kept: $XDG_CONFIG_HOME/koru-panel/koru-panel.conf, by default
// ~/.config/koru-panel/koru-panel.conf. Empty when neither that nor $HOME is set.
std::string portSettingsPath();

// The mapping from the settings file over the designed one (/dev/ttyS0, /dev/ttyS1); the
// designed one when there is no file. Lines the file has wrong go to problems, with the path.
// Shared with the other programs that drive the same line.
DeviceMap loadPortSettings(std::vector<std::string> *problems = nullptr);
// loadPortSettings for a program that shares the file: each line it could not read is told on
// standard error as "PROGRAM: FILE: line N: ...", so that a mistake never passes in silence.
DeviceMap loadPortSettingsWarning(std::string_view program);

// Sets the com1= and com2= lines of the file at path to the mapping, keeping its other lines, its
// mode and, where path is a symbolic link, the link (the file it leads to is written): whole or
// not at all (a temporary file, synced, renamed over it), making its folder. A file that is not
// a regular one, starts with a byte-order mark or is read-only is left as it is. The reason when it
// could not, in the system's words.
std::optional<std::string> savePortSettings(const DeviceMap &devices, const std::string &path);
