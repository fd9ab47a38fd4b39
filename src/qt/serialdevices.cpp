#include "qt/serialdevices.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::vector<std::string> entries(const std::filesystem::path &folder, const std::string &prefix)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with(prefix))
            names.push_back(entry.path().string());
    }
    // ttyS2 before ttyS10: by length, then by name.
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// The kernel makes ttyS0 to ttyS31 whether or not a UART is behind them; one without has the
// type PORT_UNKNOWN, which sysfs gives without opening the device. Only where sysfs does not
// say is the device opened to ask, with O_NONBLOCK so that the open does not wait for a
// carrier; a node that exists but is not ours to open still is a device.
bool hasUart(const std::filesystem::path &root, const std::string &device)
{
    const std::filesystem::path node(device);
    std::ifstream typeFile(root / "sys/class/tty" / node.filename() / "type");
    if (int type = PORT_UNKNOWN; typeFile >> type)
        return type != PORT_UNKNOWN;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

}  // namespace

std::vector<std::string> listSerialDevices(const std::filesystem::path &root)
{
    std::vector<std::string> devices = entries(root / "dev/serial/by-id", "");
    // USB adapters' nodes exist only while they are plugged in: their names are enough.
    for (const char *prefix : {"ttyUSB", "ttyACM"}) {
        const auto found = entries(root / "dev", prefix);
        devices.insert(devices.end(), found.begin(), found.end());
    }
    for (const std::string &path : entries(root / "dev", "ttyS")) {
        if (hasUart(root, path))
            devices.push_back(path);
    }
    return devices;
}

std::string describeSerialDevices(const std::vector<std::string> &devices)
{
    if (devices.empty())
        return "No serial devices were found on this machine.";
    std::string text = "Serial devices on this machine: ";
    for (std::size_t i = 0; i < devices.size(); ++i)
        text += (i ? ", " : "") + devices[i];
    return text + ".";
}
