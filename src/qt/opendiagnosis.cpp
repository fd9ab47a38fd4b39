#include "qt/opendiagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <fstream>

#include "qt/netline.h"
#include "qt/serialdevices.h"

namespace {

// The option that gives a port another device, as the program showing the message spells it:
// koru-ctl has one port, given with --port; the panel maps each of its two.
bool isKoruCtl()
{
    return QCoreApplication::applicationName() == QLatin1String("koru-ctl");
}

std::string portOption(int port)
{
    if (isKoruCtl())
        return "--port";
    return port == 2 ? "--com2" : "--com1";
}

std::string deviceOption(int port)
{
    return std::string(isKoruCtl() ? "start koru-ctl with " : "start koru-panel with ") +
           portOption(port);
}

}  // namespace

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
    // The device opens and nothing locks it: what refused it can be the serial layer's own
    // lock file, which another program holds.
    return held || !serialLockFile(path).empty() ? SerialErrorCode::InUse : SerialErrorCode::Other;
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

std::string serialLockFile(const std::string &path)
{
    std::string name = path.starts_with("/dev/") ? path.substr(5) : path;
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    for (const char *directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        std::string file = std::string(directory) + "/LCK.." + name;
        if (::access(file.c_str(), F_OK) == 0)
            return file;
    }
    return {};
}

namespace {

// Which lock file holds the device and for which process, when one does.
std::string lockFileHolder(const std::string &path)
{
    const std::string file = serialLockFile(path);
    if (file.empty())
        return {};
    std::ifstream stream(file);
    long pid = 0;
    stream >> pid;
    return "\nThe lock file " + file +
           (pid > 0 ? " names process " + std::to_string(pid) + " as its holder." : " holds it.");
}

}  // namespace

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
        return tried + "no such device.\nConnect the serial adapter, or " + deviceOption(port) +
               " PATH to use another device (for example /dev/ttyUSB0).\n" +
               describeSerialDevices(listSerialDevices());
    case SerialErrorCode::PermissionDenied:
        return tried + "permission denied.\nThe device belongs to the group \"" +
               deviceGroup(path) + "\": add your user to it (sudo usermod -aG " +
               deviceGroup(path) + " $USER), then log out and in again.";
    case SerialErrorCode::InUse:
        return tried +
               "the port is in use by another program.\nClose the program that holds "
               "it, or choose the other port." +
               lockFileHolder(path);
    default:
        break;
    }
    return tried + detail + ".\nCheck the device, or " + deviceOption(port) +
           " PATH to use another one.";
}

std::string describeNetFailure(int port, const std::string &url, SerialErrorCode failure,
                               const std::string &detail)
{
    const std::string option = portOption(port);
    const std::string tried = "Cannot open COM" + std::to_string(port) + " (" + url + "): ";
    const auto address = parseNetAddress(url);
    const std::string host = address ? address->host : url;
    const std::string portNumber = address ? std::to_string(address->port) : "PORT";
    switch (failure) {
    case SerialErrorCode::HostNotFound: {
        std::string why = detail;
        if (!why.empty() && why[0] >= 'a' && why[0] <= 'z')
            why[0] = char(why[0] - 'a' + 'A');
        return tried + "the host \"" + host + "\" was not found." +
               (why.empty() ? "" : " " + why + ".") + "\nCheck the name given with " + option +
               ", or give the serial server's IP address instead.";
    }
    case SerialErrorCode::ConnectionRefused:
        return tried +
               "the connection was refused.\nCheck that the serial server (ser2net) runs on " +
               host + " and has a connection on port " + portNumber +
               " (accepter: telnet(rfc2217),tcp," + portNumber + " for rfc2217://, tcp," +
               portNumber + " for tcp://).";
    case SerialErrorCode::TimedOut:
        return tried + "no answer within 5 seconds.\nCheck that " + host +
               " is switched on and reachable, and that no firewall blocks port " + portNumber +
               ".";
    case SerialErrorCode::SettingsRejected:
        return tried + "the server rejected the line settings (" + detail +
               ").\nSet up its port for RFC 2217 (accepter: telnet(rfc2217),tcp," + portNumber +
               " in ser2net), or use tcp:// and set the speed on the server.";
    case SerialErrorCode::NoAnswer:
        return tried + "nothing answered the RFC 2217 negotiation (" + detail +
               ").\nSet up its port for RFC 2217 (accepter: telnet(rfc2217),tcp," + portNumber +
               " in ser2net), or use tcp:// and set the speed on the server.";
    case SerialErrorCode::BadSettings:
        return tried + "not a network address.\nWrite rfc2217://HOST:PORT or tcp://HOST:PORT.";
    default:
        break;
    }
    return tried + detail + ".\nCheck the serial server and the network, or " + deviceOption(port) +
           " to use another port.";
}
