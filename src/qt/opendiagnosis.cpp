#include "qt/opendiagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "qt/netline.h"
#include "qt/serialdevices.h"

namespace {

// How a program with one line is told to use another, as that program spells it. The panel,
// which is none of these, maps each of its two ports with --com1 and --com2.
struct OneLineProgram {
    const char *name;
    const char *option;
    const char *remedy;
};
constexpr OneLineProgram kOneLinePrograms[] = {
    {"koru-ctl", "--port", "start koru-ctl with --port PATH"},
    {"koru-pjlink", "line",
     "set line = PATH for the projector in koru-pjlink's configuration (or start it with "
     "--line PATH)"},
};

// The program showing the message, when it has one line; nullptr for the panel.
const OneLineProgram *oneLineProgram()
{
    const QString name = QCoreApplication::applicationName();
    for (const OneLineProgram &program : kOneLinePrograms) {
        if (name == QLatin1String(program.name))
            return &program;
    }
    return nullptr;
}

bool hasOneLine()
{
    return oneLineProgram() != nullptr;
}

std::string portOption(int port)
{
    if (const OneLineProgram *program = oneLineProgram())
        return program->option;
    return port == 2 ? "--com2" : "--com1";
}

// What to do to use another device, "PATH" standing for it.
std::string deviceOption(int port)
{
    if (const OneLineProgram *program = oneLineProgram())
        return program->remedy;
    return "start koru-panel with " + portOption(port) + " PATH";
}

}  // namespace

SerialErrorCode diagnoseOpenFailure(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == EACCES)
            return SerialErrorCode::PermissionDenied;
        // A name too long, too many links or no descriptor left is no missing device: the
        // system's words say what it is.
        return errno == ENOENT || errno == ENOTDIR ? SerialErrorCode::NoSuchDevice
                                                   : SerialErrorCode::Other;
    }
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
    // The device opens and nothing locks it: what refused it can be a serial
    // lock file, which another program holds.
    return held || !serialLockFile(path).empty() ? SerialErrorCode::InUse : SerialErrorCode::Other;
}

namespace {

std::string octalMode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// What would let the user open a device that refused them: the group to join where the device's
// group may read and write it, otherwise who owns it, its mode and what would help.
std::string permissionAdvice(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return "A folder on its path may not be searched by your user: ask the administrator "
               "for access to it.";
    }
    const std::string mode = octalMode(info.st_mode);
    if ((info.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH)) {
        return "Its mode (" + mode +
               ") lets every user read and write it, so something else refuses it: an access "
               "control list (getfacl " +
               path + "), a security module, or the folder that holds it.";
    }
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        const std::string group = deviceGroup(path);
        return "The device belongs to the group \"" + group +
               "\", which may read and write it: add your user to it (sudo usermod -aG " + group +
               " $USER), then log out and in again.";
    }
    const struct passwd *owner = ::getpwuid(info.st_uid);
    return "Only its owner, " +
           (owner ? std::string(owner->pw_name) : std::to_string(info.st_uid)) +
           ", may read and write it (mode " + mode +
           "). A udev rule that gives serial devices to the dialout group with mode 0660 (for "
           "example SUBSYSTEM==\"tty\", GROUP=\"dialout\", MODE=\"0660\") lets that group use "
           "it; then add your user to dialout (sudo usermod -aG dialout $USER), and log out and "
           "in again.";
}

}  // namespace

std::string deviceGroup(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "dialout";
    if (const struct group *group = ::getgrgid(info.st_gid))
        return group->gr_name;
    return std::to_string(info.st_gid);
}

namespace {

// Where serial lock files live, in the order programs look for them.
constexpr const char *kLockDirectories[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                            "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                            "/var/lock/lockdev", "/run/lock"};

std::string lockFileName(const std::string &path)
{
    // The device's own name, so that /dev/serial/by-id/... and /dev/ttyUSB0 share one lock.
    char real[PATH_MAX];
    const std::string device = ::realpath(path.c_str(), real) ? std::string(real) : path;
    std::string name = device.starts_with("/dev/") ? device.substr(5) : device;
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    return "/LCK.." + name;
}

}  // namespace

std::string serialLockFile(const std::string &path)
{
    const std::string name = lockFileName(path);
    for (const char *directory : kLockDirectories) {
        std::string file = directory + name;
        if (::access(file.c_str(), F_OK) == 0)
            return file;
    }
    return {};
}

std::string newSerialLockFile(const std::string &path)
{
    const std::string name = lockFileName(path);
    for (const char *directory : kLockDirectories) {
        if (::access(directory, R_OK | W_OK) == 0)
            return directory + name;
    }
    return kLockDirectories[0] + name;
}

namespace {

// Which lock file holds the device and for which process, when one does.
std::string lockFileHolder(const std::string &path)
{
    const std::string file = serialLockFile(path);
    if (file.empty())
        return {};
    // The format is Qt's lock file's, which the program takes too.
    qint64 pid = 0;
    QString host;
    QString program;
    if (!QLockFile(QFile::decodeName(file.c_str())).getLockInfo(&pid, &host, &program))
        pid = 0;
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

namespace {

// How a message names the port that failed: the panel by its number and device, a program with
// one line (koru-ctl, koru-pjlink) by the name it was given.
std::string triedPort(int port, const std::string &name)
{
    if (hasOneLine())
        return "Cannot open " + name + ": ";
    return "Cannot open COM" + std::to_string(port) + " (" + name + "): ";
}

// The machine's serial devices but the one that failed, as a line for a message.
std::string otherDevices(const std::string &path)
{
    char real[PATH_MAX];
    const std::string failed = ::realpath(path.c_str(), real) ? std::string(real) : path;
    std::vector<std::string> devices = listSerialDevices();
    std::erase_if(devices, [&](const std::string &device) {
        char other[PATH_MAX];
        return device == path || (::realpath(device.c_str(), other) && failed == other);
    });
    return describeSerialDevices(devices);
}

}  // namespace

std::string describeOpenFailure(int port, const std::string &path, SerialErrorCode failure,
                                const std::string &detail)
{
    const std::string tried = triedPort(port, path);
    switch (failure) {
    case SerialErrorCode::NoSuchDevice:
        return tried + "no such device.\nConnect the serial adapter, or " + deviceOption(port) +
               " to use another device.\n" + otherDevices(path);
    case SerialErrorCode::PermissionDenied:
        return tried + "permission denied.\n" + permissionAdvice(path);
    case SerialErrorCode::InUse:
        if (hasOneLine()) {
            return tried +
                   "the port is in use by another program.\nClose the program that holds it, or " +
                   deviceOption(port) + " to use another device.\n" + otherDevices(path) +
                   lockFileHolder(path);
        }
        return tried +
               "the port is in use by another program.\nClose the program that holds "
               "it, or choose the other port." +
               lockFileHolder(path);
    default:
        break;
    }
    return tried + detail + ".\nCheck the device, or " + deviceOption(port) +
           " to use another one.";
}

std::string describeNetFailure(int port, const std::string &url, SerialErrorCode failure,
                               const std::string &detail)
{
    const std::string option = portOption(port);
    const std::string tried = triedPort(port, url);
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
