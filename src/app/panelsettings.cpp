#include "app/panelsettings.h"

#include <cstdlib>
#include <fstream>

std::optional<std::string> panelCom1()
{
    std::string folder;
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        folder = config;
    else if (const char *home = std::getenv("HOME"); home && *home)
        folder = std::string(home) + "/.config";
    else
        return std::nullopt;
    std::ifstream file(folder + "/koru-panel/koru-panel.conf");
    std::optional<std::string> com1;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("com1=") && line.size() > 5)
            com1 = line.substr(5);
    }
    return com1;
}
