#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The serial devices this machine has: the stable /dev/serial/by-id/ names first, then the
// USB adapters (ttyUSB*, ttyACM*) and the built-in ports (ttyS*) that have a UART. Quick: the
// kernel's sysfs says which ports have one, so no device is opened, no modem line moves and no
// adapter is woken. root is where dev/ and sys/ are found (a test gives a folder of its own).
std::vector<std::string> listSerialDevices(const std::filesystem::path &root = "/");

// The list as one line for a message: "Serial devices on this machine: A, B." or that there is
// none.
std::string describeSerialDevices(const std::vector<std::string> &devices);
