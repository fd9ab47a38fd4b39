#include "sim/qt/ptyendpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <cstring>

namespace {

struct Speed {
    speed_t code;
    int baud;
};

constexpr std::array<Speed, 19> kSpeeds{{
    {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},     {B57600, 57600},     {B115200, 115200},   {B230400, 230400},
    {B460800, 460800},   {B500000, 500000},   {B576000, 576000},   {B921600, 921600},
    {B1000000, 1000000}, {B2000000, 2000000}, {B4000000, 4000000},
}};

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool makeRaw(int fd)
{
    termios attributes{};
    if (::tcgetattr(fd, &attributes) != 0)
        return false;
    ::cfmakeraw(&attributes);
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &attributes) == 0;
}

}  // namespace

PtyEndpoint::PtyEndpoint(QObject *parent) : QObject(parent)
{
    m_hangUpPoll.setInterval(kHangUpPollMs);
    connect(&m_hangUpPoll, &QTimer::timeout, this, &PtyEndpoint::pollHangUp);
}

PtyEndpoint::~PtyEndpoint()
{
    close();
}

bool PtyEndpoint::fail(const QString &what)
{
    m_errorString = systemError(what);
    close();
    return false;
}

bool PtyEndpoint::openPty()
{
    close();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_errorString = systemError(QStringLiteral("posix_openpt"));
        return false;
    }
    m_fd = fd;
    if (::grantpt(fd) != 0)
        return fail(QStringLiteral("grantpt"));
    if (::unlockpt(fd) != 0)
        return fail(QStringLiteral("unlockpt"));
    const char *slave = ::ptsname(fd);
    if (!slave)
        return fail(QStringLiteral("ptsname"));
    const QString slavePath = QString::fromLocal8Bit(slave);
    // On a pseudo-terminal the master's settings are the slave's: raw, so that nothing is
    // echoed back or translated before the panel opens the port and sets it up itself.
    if (!makeRaw(fd))
        return fail(QStringLiteral("tcsetattr"));
    // Opening and closing the slave once puts the master in its hung-up state, which it
    // leaves only when the panel opens the slave; so the first arrival is seen like any other.
    const int probe = ::open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0)
        return fail(QStringLiteral("open %1").arg(slavePath));
    ::close(probe);
    return setUp(fd, slavePath, true);
}

bool PtyEndpoint::openDevice(const QString &path, bool anyDevice)
{
    close();
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_errorString = systemError(QStringLiteral("open %1").arg(path));
        return false;
    }
    m_fd = fd;
    if (!anyDevice && !::isatty(fd)) {
        close();
        m_errorString =
            QStringLiteral("%1 is not a terminal; --any-device serves it all the same").arg(path);
        return false;
    }
    if (::isatty(fd) && !makeRaw(fd))
        return fail(QStringLiteral("tcsetattr %1").arg(path));
    return setUp(fd, path, false);
}

bool PtyEndpoint::setUp(int fd, const QString &path, bool waitForFarEnd)
{
    m_fd = fd;
    m_path = path;
    m_errorString.clear();
    m_pending.clear();
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::readyRead);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::flushPending);
    m_hungUp = false;
    m_canReturn = ::isatty(fd);
    if (waitForFarEnd) {
        m_hungUp = true;
        m_readNotifier->setEnabled(false);
        m_hangUpPoll.start();
        // The panel may already have opened the slave in the meantime.
        pollHangUp();
    }
    return true;
}

void PtyEndpoint::close()
{
    m_hangUpPoll.stop();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_hungUp = false;
    m_pending.clear();
}

int PtyEndpoint::lineBaud() const
{
    termios attributes{};
    if (m_fd < 0 || ::tcgetattr(m_fd, &attributes) != 0)
        return 0;
    const speed_t code = ::cfgetospeed(&attributes);
    for (const Speed &speed : kSpeeds) {
        if (speed.code == code)
            return speed.baud;
    }
    return 0;
}

bool PtyEndpoint::setLineBaud(int baud)
{
    termios attributes{};
    if (m_fd < 0 || ::tcgetattr(m_fd, &attributes) != 0)
        return false;
    for (const Speed &speed : kSpeeds) {
        if (speed.baud == baud) {
            ::cfsetispeed(&attributes, speed.code);
            ::cfsetospeed(&attributes, speed.code);
            return ::tcsetattr(m_fd, TCSANOW, &attributes) == 0;
        }
    }
    errno = EINVAL;
    return false;
}

QByteArray PtyEndpoint::read(qsizetype maxBytes)
{
    if (m_fd < 0 || m_hungUp || maxBytes <= 0)
        return {};
    QByteArray bytes(std::min<qsizetype>(maxBytes, 4096), Qt::Uninitialized);
    const ssize_t count = ::read(m_fd, bytes.data(), static_cast<size_t>(bytes.size()));
    if (count > 0) {
        bytes.truncate(count);
        return bytes;
    }
    // EIO on a master means nobody holds the slave open; end of file on a device likewise.
    if (count == 0 || errno == EIO)
        enterHangUp();
    return {};
}

bool PtyEndpoint::write(const QByteArray &bytes)
{
    if (m_fd < 0 || m_hungUp || bytes.isEmpty())
        return false;
    if (!m_pending.isEmpty()) {
        if (m_pending.size() + bytes.size() > kMaxPendingBytes)
            return false;
        m_pending.append(bytes);
        return true;
    }
    const ssize_t count = ::write(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (count == bytes.size())
        return true;
    if (count < 0 && errno != EAGAIN && errno != EINTR)
        return false;
    m_pending = bytes.mid(count < 0 ? 0 : count);
    m_writeNotifier->setEnabled(true);
    return true;
}

void PtyEndpoint::flushPending()
{
    while (!m_pending.isEmpty()) {
        const ssize_t count =
            ::write(m_fd, m_pending.constData(), static_cast<size_t>(m_pending.size()));
        if (count <= 0) {
            if (count < 0 && errno != EAGAIN && errno != EINTR)
                m_pending.clear();
            break;
        }
        m_pending.remove(0, count);
    }
    m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void PtyEndpoint::setReadNotificationEnabled(bool enabled)
{
    m_readEnabled = enabled;
    if (m_readNotifier && !m_hungUp)
        m_readNotifier->setEnabled(enabled);
}

void PtyEndpoint::enterHangUp()
{
    if (m_hungUp)
        return;
    m_hungUp = true;
    m_pending.clear();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    if (m_canReturn)
        m_hangUpPoll.start();
    Q_EMIT farEndClosed();
}

void PtyEndpoint::pollHangUp()
{
    pollfd descriptor{m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&descriptor, 1, 0) < 0 || (descriptor.revents & POLLHUP))
        return;
    m_hungUp = false;
    m_hangUpPoll.stop();
    m_readNotifier->setEnabled(m_readEnabled);
    Q_EMIT farEndOpened();
}
