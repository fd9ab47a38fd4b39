#pragma once

#include <string_view>

// The text without the blanks around it: spaces, tabs, and the carriage returns that a file
// written with CR LF line ends leaves on each line.
inline std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}
