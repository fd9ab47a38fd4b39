#include "core/pjlink/pjlinkconfig.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <utility>

#include "core/panel/devicemap.h"
#include "core/protocol/frame.h"
#include "core/protocol/trimming.h"

namespace {

bool printable(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

std::optional<int> number(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// A PJLink input: the kind 1 (RGB) to 5 (NETWORK), then 1 to 9.
bool pjlinkInput(std::string_view text)
{
    return text.size() == 2 && text[0] >= '1' && text[0] <= '5' && text[1] >= '1' && text[1] <= '9';
}

std::optional<std::string> listenOn(PjlinkEndpoint &endpoint, std::string_view listen)
{
    const auto colon = listen.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return "listen is not HOST:PORT: " + std::string(listen);
    std::string_view host = listen.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']'))
        host = host.substr(1, host.size() - 2);
    const std::optional<int> port = number(listen.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535)
        return "listen's port is not 1 to 65535: " + std::string(listen);
    if (host.empty() || !printable(host))
        return "listen's host is not an address: " + std::string(listen);
    endpoint.listenHost = host;
    endpoint.listenPort = *port;
    return std::nullopt;
}

// A key and its value, into endpoint; what is wrong otherwise.
}  // namespace

std::optional<std::string> checkPjlinkPassword(std::string_view password)
{
    if (password.empty() || password.size() > 32 || !printable(password) ||
        password.find(' ') != std::string_view::npos)
        return "password is 1 to 32 visible characters, no spaces";
    return std::nullopt;
}

namespace {

std::optional<std::string> setKey(PjlinkEndpoint &endpoint, std::string_view key,
                                  std::string_view value)
{
    PjlinkProjector &projector = endpoint.projector;
    if (key == "line") {
        if (!DeviceMap::isUsableName(value))
            return "line is not a device path or a URL";
        endpoint.line = value;
    } else if (key == "speed") {
        const std::optional<int> speed = number(value);
        if (speed != 19200 && speed != 9600)
            return "speed is 19200 or 9600, not " + std::string(value);
        endpoint.speed = *speed;
    } else if (key == "address") {
        if (!pjlinkIdPrefix(value))
            return "address is single or 001 to 004, not " + std::string(value);
        endpoint.address = value;
    } else if (key == "listen") {
        return listenOn(endpoint, value);
    } else if (key == "password") {
        if (auto wrong = checkPjlinkPassword(value))
            return wrong;
        projector.password = value;
    } else if (key == "name" || key == "inf1" || key == "inf2" || key == "info") {
        const std::size_t most = key == "name" ? 64 : 32;
        if (value.size() > most || !printable(value))
            return std::string(key) + " is at most " + std::to_string(most) +
                   " printable characters";
        std::string &text = key == "name"   ? projector.name
                            : key == "inf1" ? projector.inf1
                            : key == "inf2" ? projector.inf2
                                            : projector.info;
        text = value;
    } else if (key.starts_with("input ")) {
        const std::string_view input = trimmed(key.substr(6));
        if (!pjlinkInput(input))
            return "not a PJLink input (11 to 59): " + std::string(input);
        const std::optional<int> to = number(value);
        if (!to || *to < 1 || *to > 3)
            return "input " + std::string(input) + " is the projector's input 1, 2 or 3";
        for (const PjlinkInput &mapped : projector.inputs) {
            if (mapped.pjlink == input)
                return "input " + std::string(input) + " is mapped twice";
        }
        projector.inputs.push_back({std::string(input), *to});
        std::sort(projector.inputs.begin(), projector.inputs.end(),
                  [](const PjlinkInput &a, const PjlinkInput &b) { return a.pjlink < b.pjlink; });
    } else {
        return "unknown key " + std::string(key);
    }
    return std::nullopt;
}

// What is wrong with the projectors together: their lines, addresses and endpoints.
std::optional<std::string> checkTogether(const std::vector<PjlinkEndpoint> &endpoints,
                                         std::size_t index)
{
    const PjlinkEndpoint &e = endpoints[index];
    for (std::size_t i = 0; i < index; ++i) {
        const PjlinkEndpoint &other = endpoints[i];
        if (other.listenHost == e.listenHost && other.listenPort == e.listenPort)
            return "listens where projector " + std::to_string(i + 1) + " does";
        if (other.line != e.line)
            continue;
        if (other.speed != e.speed)
            return "speed differs from projector " + std::to_string(i + 1) + " on its line";
        if (other.address == "single" || e.address == "single")
            return "a single projector is the only one on its line; give each of a chain "
                   "its address";
        if (other.address == e.address)
            return "address " + e.address + " is projector " + std::to_string(i + 1) +
                   "'s on the same line";
    }
    return std::nullopt;
}

}  // namespace

std::vector<PjlinkInput> defaultPjlinkInputs()
{
    return {{"11", 1}, {"12", 2}, {"13", 3}};
}

std::optional<std::string> pjlinkIdPrefix(std::string_view address)
{
    for (const AddressOption &option : kAddressOptions) {
        const std::string_view name =
            option.idPrefix.empty() ? std::string_view("single") : option.caption;
        // ALL sends to every projector and none answers for it alone.
        if (name == address && option.caption != "ALL")
            return std::string(option.idPrefix);
    }
    return std::nullopt;
}

std::optional<std::string> checkPjlinkEndpoint(PjlinkEndpoint &endpoint, std::string_view listen)
{
    if (!DeviceMap::isUsableName(endpoint.line))
        return "--line is not a device path or a URL";
    if (endpoint.speed != 19200 && endpoint.speed != 9600)
        return "--speed is 19200 or 9600";
    const std::optional<std::string> prefix = pjlinkIdPrefix(endpoint.address);
    if (!prefix)
        return "--address is single or 001 to 004, not " + endpoint.address;
    endpoint.projector.idPrefix = *prefix;
    if (endpoint.projector.inputs.empty())
        endpoint.projector.inputs = defaultPjlinkInputs();
    return listenOn(endpoint, listen);
}

PjlinkConfig parsePjlinkConfig(std::string_view text, std::string_view fileName)
{
    PjlinkConfig config;
    std::size_t lineNumber = 0;
    std::size_t sectionLine = 0;
    const auto fail = [&](std::size_t at, const std::string &what) {
        config.endpoints.clear();
        config.error = std::string(fileName) + ":" + std::to_string(at) + ": " + what;
        return config;
    };
    // Ends the section before a new one or the end of the file.
    const auto endSection = [&]() -> std::optional<std::string> {
        if (config.endpoints.empty())
            return std::nullopt;
        PjlinkEndpoint &endpoint = config.endpoints.back();
        if (endpoint.line.empty())
            return "the projector has no line";
        endpoint.projector.idPrefix = *pjlinkIdPrefix(endpoint.address);
        if (endpoint.projector.inputs.empty())
            endpoint.projector.inputs = defaultPjlinkInputs();
        return checkTogether(config.endpoints, config.endpoints.size() - 1);
    };
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.starts_with('#'))
            continue;
        if (line.starts_with('[')) {
            if (line != "[projector]")
                return fail(lineNumber, "unknown section " + std::string(line) +
                                            "; each projector is a [projector]");
            if (auto error = endSection())
                return fail(sectionLine, *error);
            config.endpoints.emplace_back();
            sectionLine = lineNumber;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail(lineNumber, "not KEY = VALUE: " + std::string(line));
        if (config.endpoints.empty())
            return fail(lineNumber, "a key before the first [projector]");
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (auto error = setKey(config.endpoints.back(), key, value))
            return fail(lineNumber, *error);
    }
    if (auto error = endSection())
        return fail(sectionLine, *error);
    if (config.endpoints.empty())
        return fail(lineNumber, "no [projector] in the file");
    return config;
}
