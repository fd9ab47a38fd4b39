#pragma once

#include <string>
#include <string_view>

// Bytes from the line as one line of text: "\r", "\\" and "\xHH" (lower-case hex) for every
// other control or non-ASCII byte, so that the text holds no control character; spaces stay
// spaces. The traffic log and the simulator's log write their bytes so, koru-ctl prints
// replies so, and the settings file's problems quote their lines so: a terminal is never
// handed a byte raw.
std::string escapeTraffic(std::string_view bytes);
