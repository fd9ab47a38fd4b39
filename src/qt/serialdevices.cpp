#include "qt/serialdevices.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

std::vector<std::string> entries(const std::string &folder, const std::string &prefix)
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

// The kernel makes ttyS0 to ttyS31 whether or not a UART is behind them: one without opens
// with an error, or reports the type PORT_UNKNOWN. O_NONBLOCK keeps the open from waiting for
// a carrier. A node that exists but is not ours to open still is a device.
bool uartAnswers(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

}  // namespace

std::vector<std::string> listSerialDevices()
{
    std::vector<std::string> devices = entries("/dev/serial/by-id", "");
    // USB adapters' nodes exist only while they are plugged in: no need to open them.
    for (const char *prefix : {"ttyUSB", "ttyACM"}) {
        const auto found = entries("/dev", prefix);
        devices.insert(devices.end(), found.begin(), found.end());
    }
    for (const std::string &path : entries("/dev", "ttyS")) {
        if (uartAnswers(path))
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
