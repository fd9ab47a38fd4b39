#include "qt/qtserialcontrol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/panel/clock.h"
#include "qt/opendiagnosis.h"

namespace {

QSerialPort::Parity toParity(char letter)
{
    switch (letter) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

// The name the serial layer opens the device by. It takes names as UTF-8, so a path that is not
// valid UTF-8 goes by the device it leads to; a relative name it would look for under /dev.
QString portName(const std::string &path)
{
    QString name = QString::fromStdString(path);
    if (name.toStdString() != path) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            name = QString::fromUtf8(resolved);
    }
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(QStringLiteral("./"));
    return name;
}

}  // namespace

QtSerialControl::QtSerialControl(DeviceMap devices, const Clock &clock, QObject *parent)
    : QObject(parent), m_devices(std::move(devices)), m_clock(clock), m_port(this)
{
    m_backlog.setSettings(m_lineSettings);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl()
{
    close();
}

bool QtSerialControl::setSettings(std::string_view settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return false;
    m_lineSettings = *parsed;
    m_backlog.setSettings(m_lineSettings);
    m_settingsText = std::string(settings);
    if (m_port.isOpen())
        applySettings();
    return true;
}

void QtSerialControl::applySettings()
{
    m_port.setBaudRate(m_lineSettings.baud);
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(m_lineSettings.dataBits));
    m_port.setParity(toParity(m_lineSettings.parity));
    m_port.setStopBits(m_lineSettings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
}

std::optional<SerialError> QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        close();
        return std::nullopt;
    }
    const std::string &path = m_devices.path(m_commPort);
    if (portOpen()) {
        return SerialError{SerialErrorCode::AlreadyOpen,
                           describeOpenFailure(m_commPort, path, SerialErrorCode::Other,
                                               "the port is already open")};
    }
    close();
    // The advisory lock is taken first, on a descriptor of the panel's own, and held while
    // the port is open: the serial layer's opening sets the line's settings and takes it
    // exclusively, and its closing after a failure would clear the holder's exclusive use.
    // Qt's lock file then keeps out programs that use the same locking; the advisory lock
    // keeps out the rest that lock the device, and a second panel whatever its lock directory.
    m_lockFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_lockFd < 0) {
        const std::string detail = std::strerror(errno);
        const SerialErrorCode failure = diagnoseOpenFailure(path);
        return SerialError{failure, describeOpenFailure(m_commPort, path, failure, detail)};
    }
    if (!lockDevice(m_lockFd)) {
        close();
        return SerialError{SerialErrorCode::InUse,
                           describeOpenFailure(m_commPort, path, SerialErrorCode::InUse, {})};
    }
    m_port.setPortName(portName(path));
    applySettings();
    // Opened for writing only, the serial layer watches nothing on this thread: the line's
    // thread reads and writes, on the panel's own descriptor.
    if (!m_port.open(QIODevice::WriteOnly)) {
        const std::string detail = m_port.errorString().toStdString();
        m_port.clearError();
        close();
        const SerialErrorCode failure = diagnoseOpenFailure(path);
        return SerialError{failure, describeOpenFailure(m_commPort, path, failure, detail)};
    }
    applySettings();
    // Pseudo-terminals have no modem lines; failing to set them is no failure of the port.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();
    // A line found gone while it was being opened is a failure of the opening.
    if (m_lost || hungUp()) {
        close();
        return SerialError{SerialErrorCode::Other,
                           describeOpenFailure(m_commPort, path, SerialErrorCode::Other,
                                               "the line went away while it was opened")};
    }
    LineThread::Events events;
    events.received = [this, generation = m_generation.load()] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation.load())
                    onReceived();
            },
            Qt::QueuedConnection);
    };
    events.lost = [this, generation = m_generation.load()] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation.load())
                    onLineLost();
            },
            Qt::QueuedConnection);
    };
    m_line = std::make_unique<LineThread>(m_lockFd, std::move(events));
    return std::nullopt;
}

void QtSerialControl::close()
{
    // The line's thread writes what the device takes at once and stops before the device
    // closes; what it handed over and is still on its way here is dropped.
    if (m_line) {
        m_line.reset();
        ++m_generation;
    }
    if (m_port.isOpen())
        m_port.close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    m_backlog.clear();
    m_lost = false;
}

qint64 QtSerialControl::pendingOutput() const
{
    if (!portOpen())
        return 0;
    // The device's queue: a question that never waits, whatever the line is doing.
    int queued = 0;
    if (::ioctl(m_lockFd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    // A pseudo-terminal reports no output queue and takes bytes faster than any line.
    const auto unsent = static_cast<qint64>(m_line->unsent());
    return std::max<qint64>(unsent + queued, m_backlog.bytesOnLine(m_clock.now()));
}

bool QtSerialControl::output(std::string_view frame)
{
    if (!portOpen())
        return false;
    const auto size = static_cast<qint64>(frame.size());
    if (pendingOutput() + size > kOutputBufferBytes) {
        ++m_droppedFrames;
        return false;
    }
    // The line's thread writes it at once; what the device does not take at once waits
    // there, counted above.
    m_line->write(frame);
    m_backlog.wrote(size, m_clock.now());
    return true;
}

bool QtSerialControl::hungUp() const
{
    pollfd fd{static_cast<int>(m_port.handle()), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void QtSerialControl::onReceived()
{
    if (m_lost || !m_line)
        return;
    const std::string bytes = m_line->takeReceived();
    if (!bytes.empty())
        reportReceived(bytes);
}

void QtSerialControl::onLineLost()
{
    if (m_lost || !m_line)
        return;
    // The device went away (an adapter pulled out, the far end of a pseudo-terminal closed).
    close();
    reportLost();
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    const int cause = errno;
    if (m_lost || !m_port.isOpen())
        return;
    // A hung-up line reads as end of file, which the serial layer reports as a read error
    // and would report again at every turn of the event loop. A far end that stops reading
    // fills the line's queue, and the write that finds it full (EAGAIN) is reported as a
    // resource error too: that line is busy, not gone, and only the frames are lost.
    const bool failed = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                        error == QSerialPort::WriteError;
    if (!failed || !(cause == EIO || hungUp()))
        return;
    // The device went away (an adapter pulled out, the far end of a pseudo-terminal closed).
    // The port is closed outside the serial layer's own notification, which is still running.
    m_lost = true;
    QTimer::singleShot(0, this, [this] {
        if (m_lost)
            close();
    });
    reportLost();
}
