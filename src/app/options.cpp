#include "app/options.h"

#include <filesystem>
#include <string_view>

#include "app/version.h"

namespace {

std::string what(const std::string &option)
{
    return option == "--log" ? "a file" : "a device path";
}

// Qt's own options, which QApplication takes out of the command line after this parse has
// seen it: those that take a value, then those that do not. Qt also takes them with "--".
// Qt has no call that names them. QApplication takes them out as it is constructed, but only
// those of the platform it loads (under -platform offscreen, "-display :1" stays), and it
// needs a display, which --help, --version, --list-ports, --save-ports and a usage error do
// without.
constexpr std::string_view kQtOptionsWithValue[] = {"-platform",
                                                    "-platformpluginpath",
                                                    "-platformtheme",
                                                    "-plugin",
                                                    "-qwindowgeometry",
                                                    "-qwindowicon",
                                                    "-qwindowtitle",
                                                    "-session",
                                                    "-style",
                                                    "-stylesheet",
                                                    "-display",
                                                    "-geometry",
                                                    "-title",
                                                    "-name",
                                                    "-visual",
                                                    "-ncols",
                                                    "-cmap",
                                                    "-fn",
                                                    "-font",
                                                    "-bg",
                                                    "-background",
                                                    "-fg",
                                                    "-foreground",
                                                    "-btn",
                                                    "-button",
                                                    "-inputstyle",
                                                    "-im"};
constexpr std::string_view kQtFlags[] = {"-reverse", "-widgetcount", "-nograb",
                                         "-dograb",  "-sync",        "-testability"};

// 0 when the argument is none of Qt's options, else how many arguments it takes up.
std::size_t qtOptionLength(std::string_view argument, bool valueFollows)
{
    if (argument.starts_with("--"))
        argument.remove_prefix(1);
    const std::string_view name = argument.substr(0, argument.find('='));
    for (const std::string_view option : kQtOptionsWithValue) {
        if (name == option)
            return name.size() < argument.size() || !valueFollows ? 1 : 2;
    }
    for (const std::string_view flag : kQtFlags) {
        if (argument == flag)
            return 1;
    }
    return 0;
}

}  // namespace

// By hand, not with QCommandLineParser, which cannot tell apart what the panel tells apart:
// "--com1 --demo" (refused: an option is no path) from "--com1=--demo" (a device so named),
// nor "koru-panel foo" (an unknown option) from "koru-panel -- foo" (an unexpected argument),
// and which refuses Qt's own options ("-platform offscreen") unless it is given the list above.
Options Options::parse(const std::vector<std::string> &arguments)
{
    Options options;
    bool saving = false;
    auto fail = [&options](std::string message) {
        options.action = Action::Error;
        options.error = std::move(message);
        return options;
    };
    bool listing = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        // "--" ends the options; the panel takes no other argument after it.
        if (argument == "--") {
            if (i + 1 < arguments.size())
                return fail("unexpected argument '" + arguments[i + 1] + "'");
            break;
        }
        if (argument == "-h" || argument == "--help") {
            options.action = Action::Help;
            return options;
        }
        if (argument == "-V" || argument == "--version") {
            options.action = Action::Version;
            return options;
        }
        if (argument == "--demo") {
            options.demo = true;
            continue;
        }
        if (argument == "--list-ports") {
            listing = true;
            continue;
        }
        if (argument == "--save-ports") {
            saving = true;
            continue;
        }
        if (const std::size_t length = qtOptionLength(argument, i + 1 < arguments.size())) {
            // What says whether the window will have a display, as Qt reads it: "-platform
            // NAME" or "--platform NAME" (Qt reads no "=" form of these two).
            std::string_view name = argument;
            if (name.starts_with("--"))
                name.remove_prefix(1);
            if (length == 2 && name == "-platform")
                options.qtPlatform = arguments[i + 1];
            else if (length == 2 && name == "-display")
                options.qtDisplay = true;
            i += length - 1;
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
        if (name == "--com1") {
            target = &options.devices.com1;
            options.mapsCom1 = true;
        } else if (name == "--com2") {
            target = &options.devices.com2;
            options.mapsCom2 = true;
        } else if (name == "--log") {
            target = &options.logPath;
        }
        if (!target)
            return fail("unknown option '" + argument + "'");
        // An option after --com1 is no path ("--com1 --demo"); a device named so is given
        // as --com1=PATH.
        if (!hasValue) {
            if (i + 1 >= arguments.size() || arguments[i + 1].starts_with('-'))
                return fail("option '" + name + "' needs " + what(name));
            value = arguments[++i];
        }
        if (value.empty())
            return fail("option '" + name + "' needs " + what(name));
        if (target == &options.logPath) {
            *target = value;
            continue;
        }
        if (!DeviceMap::isUsableName(value))
            return fail("option '" + name + "' takes a name with no control character in it");
        // A device path is made absolute once, against the directory the panel starts in: the
        // serial layer would take a relative name as one under /dev, while the diagnosis of a
        // failure looks where the name leads from here. A network port stays as it is.
        std::error_code failed;
        const std::filesystem::path absolute = std::filesystem::absolute(value, failed);
        *target = failed || DeviceMap::isNetworkName(value) ? value : absolute.string();
    }
    // Each of these does one thing and ends: an option beside it that it would pass over is
    // refused rather than ignored.
    if (listing && (saving || options.demo || options.mapsCom1 || options.mapsCom2 ||
                    !options.logPath.empty()))
        return fail("option '--list-ports' takes no other option");
    if (listing) {
        options.action = Action::ListPorts;
        return options;
    }
    if (saving) {
        if (!options.logPath.empty() || options.demo)
            return fail("option '--save-ports' takes only --com1 and --com2");
        if (!options.mapsCom1 && !options.mapsCom2)
            return fail("option '--save-ports' needs --com1 or --com2");
        options.action = Action::SavePorts;
    }
    // The demo brings its own ports: a device given as well would be silently overridden.
    if (options.demo && (options.mapsCom1 || options.mapsCom2))
        return fail("--demo brings its own ports: it cannot be used with --com1 or --com2");
    return options;
}

DeviceMap Options::over(DeviceMap settings) const
{
    if (mapsCom1)
        settings.com1 = devices.com1;
    if (mapsCom2)
        settings.com2 = devices.com2;
    return settings;
}

std::string usage()
{
    return "Usage: koru-panel [OPTION]...\n"
           "Control panel for video projectors on an RS-232C line (8N1, 19200 or 9600 baud).\n"
           "\n"
           "  --com1 PATH   device that COM1 stands for (default /dev/ttyS0)\n"
           "  --com2 PATH   device that COM2 stands for (default /dev/ttyS1)\n"
           "  --save-ports  write the --com1/--com2 mapping to the settings file and exit\n"
           "  --list-ports  print the serial devices of this machine and exit\n"
           "  --demo        run on built-in simulated projectors: a chain of four as COM1,\n"
           "                a single one as COM2\n"
           "  --log FILE    append every frame sent and every piece received to FILE\n"
           "  -V, --version print the version and exit\n"
           "  -h, --help    print this help and exit\n"
           "\n"
           "PATH may be any serial device, such as /dev/ttyUSB0, a /dev/serial/by-id/ name\n"
           "or a pseudo-terminal (a relative PATH is taken from the current directory), or a\n"
           "serial server on the network:\n"
           "  rfc2217://HOST:PORT  Telnet with RFC 2217: the panel sets the speed (19200/9600)\n"
           "  tcp://HOST:PORT      raw TCP: the bytes only, the speed is the server's\n"
           "\n"
           "Settings file: $XDG_CONFIG_HOME/koru-panel/koru-panel.conf (default\n"
           "~/.config/koru-panel/koru-panel.conf), lines com1=PATH and com2=PATH; the command\n"
           "line overrides it.\n"
           "\n"
           "A ser2net (4.x) set-up in /etc/ser2net.yaml for rfc2217://HOST:4001:\n"
           "  connection: &projector\n"
           "      accepter: telnet(rfc2217),tcp,4001\n"
           "      connector: serialdev,/dev/ttyUSB0,19200n81,local\n"
           "(accepter: tcp,4002 for tcp://HOST:4002.)\n"
           "Qt's own options, such as -platform NAME and -display DISPLAY, are accepted.\n";
}

std::string versionText()
{
    // The project's version first, as every program gives it; then the panel's own forms.
    return std::string("koru-panel ") + kVersion + "\nFile version " + kFileVersion +
           "\nProduct version " + kFileVersion + "\nComment: " + kVersionComment + "\n";
}
