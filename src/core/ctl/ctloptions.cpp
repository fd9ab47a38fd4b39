#include "core/ctl/ctloptions.h"

#include <algorithm>
#include <charconv>

#include "core/panel/devicemap.h"
#include "core/protocol/commandnames.h"
#include "core/protocol/frame.h"

namespace {

std::optional<int> number(const std::string &text, int least, int most)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < least || value > most)
        return std::nullopt;
    return value;
}

std::string lowered(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

// By hand, not with QCommandLineParser (and so without Qt, as the rest of core/ctl): it takes
// "--V" for -V (and "--v" for -v), and either "-vV" for -v -V or "-verbose" for --verbose, by
// its mode for one dash, where koru-ctl refuses each as an unknown option (status 2); it takes
// "-" for a command; and it cannot tell "-h --bogus" (help) from "--bogus -h" (a usage error),
// as it reports the unknown options apart from the known ones.
CtlOptions CtlOptions::parse(const std::vector<std::string> &arguments)
{
    CtlOptions options;
    auto fail = [&options](std::string message) {
        options.action = Action::Error;
        options.error = std::move(message);
        return options;
    };
    bool list = false;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        // After "--", everything is a command, whatever it starts with.
        if (optionsEnded || !argument.starts_with("-")) {
            options.commands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            options.action = Action::Help;
            return options;
        }
        if (argument == "-V" || argument == "--version") {
            options.action = Action::Version;
            return options;
        }
        if (argument == "--list") {
            list = true;
            continue;
        }
        if (argument == "--json") {
            options.json = true;
            continue;
        }
        if (argument == "--timestamp") {
            options.timestamp = true;
            continue;
        }
        if (argument == "-v" || argument == "--verbose") {
            options.verbose = true;
            continue;
        }
        std::string name = argument;
        std::string value;
        if (const auto equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (name == "--port" || name == "--baud" || name == "--address" ||
                   name == "--timeout" || name == "--log" || name == "--repeat") {
            if (i + 1 >= arguments.size())
                return fail("option '" + name + "' needs a value");
            value = arguments[++i];
        } else {
            return fail("unknown option '" + argument + "'");
        }
        if (name == "--port") {
            if (value.empty())
                return fail("option '--port' needs a device path");
            if (!DeviceMap::isUsableName(value))
                return fail("option '--port' takes a name with no control character in it");
            options.port = value;
        } else if (name == "--baud") {
            if (value != "19200" && value != "9600")
                return fail("option '--baud' takes 19200 or 9600, not '" + value + "'");
            options.baud = value == "9600" ? 9600 : 19200;
        } else if (name == "--address") {
            const std::string wanted = lowered(value);
            bool found = false;
            for (const AddressOption &address : kAddressOptions) {
                if (lowered(std::string(address.caption)) == wanted) {
                    options.idPrefix = std::string(address.idPrefix);
                    found = true;
                }
            }
            if (!found)
                return fail("option '--address' takes single, all, 001, 002, 003 or 004, not '" +
                            value + "'");
        } else if (name == "--timeout") {
            const auto ms = number(value, 1, 600000);
            if (!ms)
                return fail("option '--timeout' takes milliseconds from 1 to 600000");
            options.timeoutMs = *ms;
        } else if (name == "--repeat") {
            const auto times = number(value, 1, 100000);
            if (!times)
                return fail("option '--repeat' takes a count from 1 to 100000");
            options.repeat = *times;
        } else if (name == "--log") {
            if (value.empty())
                return fail("option '--log' needs a file");
            options.logPath = value;
        } else {
            return fail("unknown option '" + argument + "'");
        }
    }
    if (list) {
        // A list and commands to send: which of the two was meant cannot be told.
        if (!options.commands.empty())
            return fail("option '--list' lists the commands and sends none; '" +
                        options.commands.front() + "' would not be sent");
        options.action = Action::List;
        return options;
    }
    if (options.commands.empty())
        return fail("no command given (koru-ctl --list names them)");
    for (const std::string &command : options.commands) {
        if (!findCommand(command))
            return fail("unknown command '" + command + "' (koru-ctl --list names them)");
    }
    return options;
}

std::string ctlUsage()
{
    return "Usage: koru-ctl [OPTION]... COMMAND...\n"
           "       koru-ctl --list\n"
           "Sends projector commands over an RS-232C line (8N1) and prints the replies.\n"
           "\n"
           "  --port PATH|URL   the device, rfc2217://HOST:PORT or tcp://HOST:PORT\n"
           "                    (default: the panel's COM1, else /dev/ttyS0)\n"
           "  --baud BAUD       19200 (default) or 9600\n"
           "  --address ADDR    single (default), all, 001, 002, 003 or 004\n"
           "  --timeout MS      how long to wait for each reply (default 500)\n"
           "  --repeat N        send each hold command N times at its repeat interval\n"
           "  --json            print one JSON object a line\n"
           "  --timestamp       open each line with the date and time of its reply\n"
           "  -v, --verbose     print the raw reply under each result\n"
           "  --log FILE        append every frame sent and every piece received to FILE\n"
           "  --list            print every command with its code and what it does\n"
           "  -V, --version     print the version and exit\n"
           "  -h, --help        print this help and exit\n"
           "\n"
           "Exit status: 0 when every command was answered as expected, 1 on NAK, no reply,\n"
           "a reply that does not decode or output that cannot be written, 2 on a usage\n"
           "error, 3 when the port cannot be opened or the line is lost, 128 + the signal's\n"
           "number on SIGINT, SIGTERM or SIGHUP.\n";
}

std::string commandList()
{
    std::string text;
    for (const NamedCommand &command : namedCommands()) {
        std::string name(command.name);
        name.resize(std::max<std::size_t>(name.size() + 1, 18), ' ');
        text += name;
        text += command.code;
        text += "  ";
        text += command.description;
        if (command.query)
            text += " (status query)";
        text += '\n';
    }
    return text;
}
