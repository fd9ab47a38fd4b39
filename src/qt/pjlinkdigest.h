#pragma once

#include <string>
#include <string_view>

// The 32-character lowercase hex MD5 of text, as PJLink's authentication compares it.
std::string pjlinkMd5Hex(std::string_view text);
