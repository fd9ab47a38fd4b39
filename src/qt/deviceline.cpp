#include "qt/deviceline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFile>
#include <QLockFile>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "qt/opendiagnosis.h"

namespace {

struct Speed {
    int baud;
    speed_t constant;
};

constexpr std::array kSpeeds{
    Speed{50, B50},         Speed{75, B75},         Speed{110, B110},     Speed{134, B134},
    Speed{150, B150},       Speed{200, B200},       Speed{300, B300},     Speed{600, B600},
    Speed{1200, B1200},     Speed{1800, B1800},     Speed{2400, B2400},   Speed{4800, B4800},
    Speed{9600, B9600},     Speed{19200, B19200},   Speed{38400, B38400}, Speed{57600, B57600},
    Speed{115200, B115200}, Speed{230400, B230400},
};

tcflag_t characterSize(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

}  // namespace

std::optional<termios> lineTermios(const termios &current, const LineSettings &settings)
{
    const auto speed = std::ranges::find(kSpeeds, settings.baud, &Speed::baud);
    if (speed == kSpeeds.end())
        return std::nullopt;
    termios line = current;
    ::cfmakeraw(&line);
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= CREAD | CLOCAL | characterSize(settings.dataBits);
    if (settings.stopBits == 2)
        line.c_cflag |= CSTOPB;
    switch (settings.parity) {
    case 'E':
        line.c_cflag |= PARENB;
        break;
    case 'O':
        line.c_cflag |= PARENB | PARODD;
        break;
    case 'M':
        line.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 'S':
        line.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, speed->constant);
    ::cfsetospeed(&line, speed->constant);
    return line;
}

DeviceLine::DeviceLine(Events events) : m_events(std::move(events)) {}

DeviceLine::~DeviceLine()
{
    close();
}

SerialError DeviceLine::failure(SerialErrorCode code, const std::string &detail) const
{
    return SerialError{code, describeOpenFailure(m_port, m_path, code, detail)};
}

std::optional<SerialError> DeviceLine::open(int port, const std::string &path,
                                            const LineSettings &settings)
{
    close();
    m_port = port;
    m_path = path;
    const auto line = lineTermios(termios{}, settings);
    if (!line)
        return failure(SerialErrorCode::BadSettings, "the line cannot run at that speed");
    // The advisory lock is taken first, on the one descriptor, and held while the port is
    // open; exclusive use comes only once the port is the program's, so that a refused
    // opening leaves a holder's exclusive use alone. The lock file keeps out the programs
    // that lock that way, the advisory lock the rest that lock the device.
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const std::string detail = std::strerror(errno);
        return failure(diagnoseOpenFailure(path), detail);
    }
    if (!lockDevice(m_fd)) {
        close();
        return failure(SerialErrorCode::InUse, {});
    }
    const std::string lockFile = newSerialLockFile(path);
    m_lockFile = std::make_unique<QLockFile>(QFile::decodeName(lockFile.c_str()));
    // Only a holder that is gone leaves a stale lock, however old the file.
    m_lockFile->setStaleLockTime(0);
    errno = 0;
    if (!m_lockFile->tryLock()) {
        // QLockFile says only that it failed; the system's reason is left in errno.
        const int cause = errno;
        const bool held = m_lockFile->error() == QLockFile::LockFailedError;
        close();
        if (held)
            return failure(SerialErrorCode::InUse, {});
        return failure(SerialErrorCode::Other,
                       "cannot create the lock file " + lockFile +
                           (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string()));
    }
    m_exclusive = ::ioctl(m_fd, TIOCEXCL) == 0;
    termios current{};
    if (::tcgetattr(m_fd, &current) != 0) {
        const std::string detail = std::strerror(errno);
        close();
        return failure(SerialErrorCode::Other, detail + " (is it a serial device?)");
    }
    m_restore = current;
    m_restoreOnClose = true;
    if (!apply(settings)) {
        const std::string detail = std::strerror(errno);
        close();
        return failure(SerialErrorCode::BadSettings,
                       "the device refused the line's settings (" + detail + ")");
    }
    // Pseudo-terminals have no modem lines; failing to raise them is no failure of the port.
    int modemLines = TIOCM_DTR | TIOCM_RTS;
    [[maybe_unused]] const int raised = ::ioctl(m_fd, TIOCMBIS, &modemLines);
    if (hungUp()) {
        close();
        return failure(SerialErrorCode::Other, "the line went away while it was opened");
    }
    try {
        m_line = std::make_unique<LineThread>(m_fd,
                                              LineThread::Events{m_events.received, m_events.lost});
    } catch (const std::system_error &error) {
        close();
        return failure(SerialErrorCode::Other,
                       std::string("cannot start the line's thread: ") + error.what());
    }
    return std::nullopt;
}

void DeviceLine::close()
{
    // The line's thread writes what the device takes at once and stops before the device
    // closes.
    m_line.reset();
    if (m_fd >= 0) {
        if (m_restoreOnClose)
            ::tcsetattr(m_fd, TCSANOW, &m_restore);
        if (m_exclusive)
            ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    m_fd = -1;
    m_restoreOnClose = false;
    m_exclusive = false;
    m_lockFile.reset();  // unlocks, removing the file
}

bool DeviceLine::apply(const LineSettings &settings)
{
    termios current{};
    if (::tcgetattr(m_fd, &current) != 0)
        return false;
    const auto line = lineTermios(current, settings);
    if (!line) {
        errno = EINVAL;
        return false;
    }
    return ::tcsetattr(m_fd, TCSANOW, &*line) == 0;
}

void DeviceLine::setSettings(const LineSettings &settings)
{
    if (m_fd < 0 || apply(settings) || !m_events.settingsRefused)
        return;
    const std::string detail = std::strerror(errno);
    m_events.settingsRefused(
        failure(SerialErrorCode::BadSettings,
                "the device refused " + std::to_string(settings.baud) + " baud (" + detail + ")"));
}

bool DeviceLine::write(std::string_view frame)
{
    if (!m_line)
        return false;
    m_line->write(frame);
    return true;
}

std::size_t DeviceLine::unsent() const
{
    if (!m_line)
        return 0;
    // The device's queue: a question that never waits, whatever the line is doing.
    int queued = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    return m_line->unsent() + static_cast<std::size_t>(queued);
}

std::string DeviceLine::takeReceived()
{
    return m_line ? m_line->takeReceived() : std::string();
}

bool DeviceLine::hungUp() const
{
    pollfd fd{m_fd, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
}
