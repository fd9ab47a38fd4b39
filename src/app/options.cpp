#include "app/options.h"

#include "app/version.h"

namespace {

std::string what(const std::string &option)
{
    return option == "--log" ? "a file" : "a device path";
}

}  // namespace

Options Options::parse(const std::vector<std::string> &arguments)
{
    Options options;
    auto fail = [&options](std::string message) {
        options.action = Action::Error;
        options.error = std::move(message);
        return options;
    };
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            options.action = Action::Help;
            return options;
        }
        if (argument == "--version") {
            options.action = Action::Version;
            return options;
        }
        if (argument == "--demo") {
            options.demo = true;
            continue;
        }
        std::string *target = nullptr;
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        if (const auto equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        if (name == "--com1")
            target = &options.devices.com1;
        else if (name == "--com2")
            target = &options.devices.com2;
        else if (name == "--log")
            target = &options.logPath;
        if (!target)
            return fail("unknown option '" + argument + "'");
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return fail("option '" + name + "' needs " + what(name));
            value = arguments[++i];
        }
        if (value.empty())
            return fail("option '" + name + "' needs " + what(name));
        *target = value;
    }
    return options;
}

std::string usage()
{
    return "Usage: koru-panel [OPTION]...\n"
           "Control panel for video projectors on an RS-232C line (8N1, 19200 or 9600 baud).\n"
           "\n"
           "  --com1 PATH   device that COM1 stands for (default /dev/ttyS0)\n"
           "  --com2 PATH   device that COM2 stands for (default /dev/ttyS1)\n"
           "  --demo        run on built-in simulated projectors: a chain of four as COM1,\n"
           "                a single one as COM2\n"
           "  --log FILE    append every frame sent and every piece received to FILE\n"
           "  --version     print the version and exit\n"
           "  -h, --help    print this help and exit\n"
           "\n"
           "PATH may be any serial device, such as /dev/ttyUSB0, a /dev/serial/by-id/ name\n"
           "or a pseudo-terminal.\n";
}

std::string versionText()
{
    return std::string("koru-panel ") + kFileVersion + "\nFile version " + kFileVersion +
           "\nProduct version " + kFileVersion + "\nComment: " + kVersionComment + "\n";
}
