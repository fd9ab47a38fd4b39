// koru-panel's command line: Options::parse on any arguments, the input split into arguments
// at each NUL byte.
//
// Properties: parsing the same arguments again gives the same result; an error always says
// what is wrong; help and version come only when asked for; a run has two device paths, both
// absolute, each made from a value given to --com1 or --com2 or the designed default; the demo
// runs only on the designed defaults (it brings its own ports).

#include "app/options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.h"

namespace {

bool sameResult(const Options &a, const Options &b)
{
    return a.action == b.action && a.error == b.error && a.demo == b.demo &&
           a.devices.com1 == b.devices.com1 && a.devices.com2 == b.devices.com2;
}

bool mentions(const std::vector<std::string> &arguments, std::string_view option)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == option)
            return true;
    }
    return false;
}

// Whether path is the default or comes from a value in the arguments: the value itself when
// absolute, else the value at the end of an absolute path.
bool comesFromArguments(const std::vector<std::string> &arguments, const std::string &path,
                        const std::string &fallback)
{
    if (path == fallback)
        return true;
    const auto matches = [&path](const std::string &value) {
        return !value.empty() && (path == value || (value[0] != '/' && path.ends_with(value)));
    };
    for (const std::string &argument : arguments) {
        const auto equals = argument.find('=');
        if (matches(argument) ||
            (equals != std::string::npos && matches(argument.substr(equals + 1))))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A command line longer than this says nothing a shorter one does not, and each
    // argument is checked against every other: long inputs only slow the search down.
    if (size > 512)
        return 0;
    std::vector<std::string> arguments{"koru-panel"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(std::exchange(current, {}));
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0)
        arguments.push_back(current);

    const Options options = Options::parse(arguments);
    KORU_CHECK(sameResult(options, Options::parse(arguments)));
    switch (options.action) {
    case Options::Action::Error:
        KORU_CHECK(!options.error.empty());
        return 0;
    case Options::Action::Help:
        KORU_CHECK(mentions(arguments, "-h") || mentions(arguments, "--help"));
        return 0;
    case Options::Action::Version:
        KORU_CHECK(mentions(arguments, "-V") || mentions(arguments, "--version"));
        return 0;
    case Options::Action::ListPorts:
        // Alone: beside anything it would pass over, it is refused.
        KORU_CHECK(mentions(arguments, "--list-ports") && !mentions(arguments, "--save-ports") &&
                   !options.mapsCom1 && !options.mapsCom2 && !options.demo);
        return 0;
    case Options::Action::SavePorts:
        KORU_CHECK(mentions(arguments, "--save-ports") && (options.mapsCom1 || options.mapsCom2));
        break;
    case Options::Action::Run:
        break;
    }
    const DeviceMap defaults;
    for (const std::string *path : {&options.devices.com1, &options.devices.com2}) {
        KORU_CHECK(!path->empty() &&
                   (path->front() == '/' || path->find("://") != std::string::npos));
        // No NUL or line break ever reaches a lock file's name.
        KORU_CHECK(DeviceMap::isUsableName(*path));
    }
    KORU_CHECK(comesFromArguments(arguments, options.devices.com1, defaults.com1));
    KORU_CHECK(comesFromArguments(arguments, options.devices.com2, defaults.com2));
    if (options.demo) {
        KORU_CHECK(options.devices.com1 == defaults.com1);
        KORU_CHECK(options.devices.com2 == defaults.com2);
    }
    return 0;
}
