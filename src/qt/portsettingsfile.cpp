#include "qt/portsettingsfile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/panel/portsettings.h"

std::string portSettingsPath()
{
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && config[0] == '/') {
        folder = config;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || home[0] == '\0')
            return {};
        folder = std::string(home) + "/.config";
    }
    return folder + "/koru-panel/koru-panel.conf";
}

DeviceMap loadPortSettings(std::vector<std::string> *problems)
{
    const std::string path = portSettingsPath();
    std::ifstream file(path);
    if (path.empty() || !file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    PortSettings settings = PortSettings::parse(text.str());
    if (problems) {
        for (const std::string &problem : settings.problems) {
            problems->push_back(path);
            problems->back().append(": ").append(problem);
        }
    }
    return settings.devices;
}

DeviceMap loadPortSettingsWarning(std::string_view program)
{
    std::vector<std::string> problems;
    DeviceMap devices = loadPortSettings(&problems);
    for (const std::string &problem : problems)
        std::cerr << program << ": " << problem << "\n";
    return devices;
}

std::optional<std::string> savePortSettings(const DeviceMap &devices, const std::string &path)
{
    if (path.empty())
        return "neither XDG_CONFIG_HOME nor HOME is set";
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error)
        return error.message();
    // A reader never sees half a file, and a failed write leaves the old one as it was.
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << PortSettings::format(devices);
        file.flush();
        if (!file) {
            std::filesystem::remove(temporary, error);
            return "cannot write " + temporary;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::filesystem::remove(temporary, error);
        return reason;
    }
    return std::nullopt;
}
