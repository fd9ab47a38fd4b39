#include "qt/opendiagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

SerialErrorCode diagnoseOpenFailure(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == EACCES ? SerialErrorCode::PermissionDenied : SerialErrorCode::NoSuchDevice;
    if (::access(path.c_str(), R_OK | W_OK) != 0)
        return errno == EACCES ? SerialErrorCode::PermissionDenied : SerialErrorCode::Other;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            return SerialErrorCode::InUse;
        if (errno == EACCES || errno == EPERM)
            return SerialErrorCode::PermissionDenied;
        if (errno == ENOENT || errno == ENODEV || errno == ENXIO)
            return SerialErrorCode::NoSuchDevice;
        return SerialErrorCode::Other;
    }
    const bool held = !lockDevice(fd);
    ::close(fd);
    // The device opens and nothing locks it: what refused it was the serial layer's own lock
    // file, which another program holds.
    return held ? SerialErrorCode::InUse : SerialErrorCode::Other;
}

std::string deviceGroup(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "dialout";
    if (const struct group *group = ::getgrgid(info.st_gid))
        return group->gr_name;
    return std::to_string(info.st_gid);
}

bool lockDevice(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return errno != EWOULDBLOCK;
    }
    return true;
}

std::string describeOpenFailure(int port, const std::string &path, SerialErrorCode failure,
                                const std::string &detail)
{
    const std::string com = "COM" + std::to_string(port);
    const std::string tried = "Cannot open " + com + " (" + path + "): ";
    switch (failure) {
    case SerialErrorCode::NoSuchDevice:
        return tried + "no such device.\nConnect the serial adapter, or start koru-panel with --" +
               (port == 2 ? std::string("com2") : std::string("com1")) +
               " PATH to use another device (for example /dev/ttyUSB0).";
    case SerialErrorCode::PermissionDenied:
        return tried + "permission denied.\nThe device belongs to the group \"" +
               deviceGroup(path) + "\": add your user to it (sudo usermod -aG " +
               deviceGroup(path) + " $USER), then log out and in again.";
    case SerialErrorCode::InUse:
        return tried +
               "the port is in use by another program.\nClose the program that holds "
               "it, or choose the other port.";
    default:
        break;
    }
    return tried + detail + ".\nCheck the device, or start koru-panel with --" +
           (port == 2 ? std::string("com2") : std::string("com1")) + " PATH to use another one.";
}
