#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cerrno>
#include <cstdlib>

// A pseudo-terminal pair for tests that need a real serial device and no hardware: the test
// holds the master end and plays the far end of the line, the code under test opens the
// slave's path as its port, as the panel does. The master is raw and
// non-blocking.
class PtyPair {
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            close();
            return;
        }
        const char *slave = ::ptsname(m_master);
        termios attributes{};
        if (!slave || ::tcgetattr(m_master, &attributes) != 0) {
            close();
            return;
        }
        // The master's settings are the slave's: raw, so nothing is echoed or translated.
        ::cfmakeraw(&attributes);
        ::tcsetattr(m_master, TCSANOW, &attributes);
        m_slavePath = QString::fromLocal8Bit(slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;
    ~PtyPair() { close(); }

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Everything that has arrived at the master so far; never blocks.
    QByteArray readMaster()
    {
        QByteArray all;
        char buffer[4096];
        while (m_master >= 0) {
            const ssize_t count = ::read(m_master, buffer, sizeof buffer);
            if (count <= 0)
                break;
            all.append(buffer, count);
        }
        return all;
    }

    bool writeMaster(const QByteArray &bytes)
    {
        return m_master >= 0 && ::write(m_master, bytes.constData(),
                                        static_cast<size_t>(bytes.size())) == bytes.size();
    }

    // Closes the master: the far end goes away, and the slave's side reads a hang-up.
    void close()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    QString m_slavePath;
};

// Whether a terminal is taken for exclusive use (TIOCEXCL): 1 or 0, -1 when it cannot be told.
// Root opens it whatever the flag; anyone else is refused with EBUSY while it is set.
inline int exclusiveUse(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY ? 1 : -1;
    int exclusive = -1;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0)
        exclusive = -1;
    ::close(fd);
    return exclusive;
}

// Where the serial layer keeps its lock file for a device under /dev (as root, or wherever the
// lock directory may be written).
inline QString serialLockPath(const QString &device)
{
    return QStringLiteral("/var/lock/LCK..") +
           device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
}

// Whether another descriptor holds the device's advisory lock.
inline bool advisoryLocked(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}
