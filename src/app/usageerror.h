#pragma once

#include <string>
#include <string_view>

// A mistake on the command line, told the GNU way: one line naming the option or value at
// fault, and one pointing at --help, for standard error; the program then exits with status 2.
inline std::string usageError(std::string_view program, std::string_view error)
{
    const std::string name(program);
    return name + ": " + std::string(error) + "\nTry '" + name + " --help' for more information.\n";
}
