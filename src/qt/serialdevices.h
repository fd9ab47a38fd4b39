#pragma once

#include <string>
#include <vector>

// The serial devices this machine has: the stable /dev/serial/by-id/ names first, then the
// USB adapters (ttyUSB*, ttyACM*) and the built-in ports (ttyS*) that answer. Quick: no device
// is opened, so no modem line moves and no adapter is woken.
std::vector<std::string> listSerialDevices();

// The list as one line for a message: "Serial devices here: A, B." or that there is none.
std::string describeSerialDevices(const std::vector<std::string> &devices);
