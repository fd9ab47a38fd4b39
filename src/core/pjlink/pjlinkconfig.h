#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pjlink/pjlinkprojector.h"

// One projector as koru-pjlink serves it: the line it is on, where it listens, and what it
// answers beside what it reports on its line.
struct PjlinkEndpoint {
    std::string line;  // a device path, rfc2217://HOST:PORT or tcp://HOST:PORT
    int speed = 19200;
    std::string address = "single";  // as koru-ctl names it: single, 001..004
    std::string listenHost = "0.0.0.0";
    int listenPort = 4352;
    PjlinkProjector projector;
};

struct PjlinkConfig {
    std::vector<PjlinkEndpoint> endpoints;
    // What is wrong, "FILE:LINE: ..." for a file, when the configuration cannot be used.
    std::string error;
};

// The PJLink inputs a projector offers when its configuration maps none: RGB1 to RGB3, one for
// each of its inputs.
std::vector<PjlinkInput> defaultPjlinkInputs();

// Reads the configuration file's text; fileName only names it in errors.
//
//   [projector]              one section for each projector
//   line = /dev/ttyUSB0      required; projectors that name the same line share it
//   speed = 19200            19200 or 9600, the same for every projector of a line
//   address = 001            single (the only projector on its line), or 001..004 on a chain
//   listen = 0.0.0.0:4352    HOST:PORT, [HOST]:PORT for IPv6; one projector an endpoint
//   password = TEXT          up to 32 visible characters; none: no authentication
//   name = TEXT              NAME, up to 64 printable characters; inf1, inf2, info up to 32
//   input 11 = 1             a PJLink input and the projector's input, 1 to 3
//
// Blank lines and lines starting with "#" are ignored.
PjlinkConfig parsePjlinkConfig(std::string_view text, std::string_view fileName);

// A line, "HOST:PORT" and an address as the command line gives them, checked as the file's.
std::optional<std::string> checkPjlinkEndpoint(PjlinkEndpoint &endpoint, std::string_view listen);
// What is wrong with a password, or nothing: 1 to 32 visible characters, no spaces.
std::optional<std::string> checkPjlinkPassword(std::string_view password);

// The prefix of the address's frames, or nothing for an address that is none.
std::optional<std::string> pjlinkIdPrefix(std::string_view address);
