#include "qt/qtserialcontrol.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <QTimer>

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

}  // namespace

QtSerialControl::QtSerialControl(DeviceMap devices, QObject *parent)
    : QObject(parent), m_devices(std::move(devices))
{
    setSettings(m_settingsText);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl()
{
    closePort();
}

void QtSerialControl::setSettings(std::string_view settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return;
    m_lineSettings = *parsed;
    m_settingsText = std::string(settings);
    if (m_port.isOpen())
        applySettings();
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
        closePort();
        return std::nullopt;
    }
    const std::string &path = m_devices.path(m_commPort);
    if (portOpen()) {
        return SerialError{
            QSerialPort::OpenError,
            describeOpenFailure(m_commPort, path, OpenFailure::Other, "the port is already open")};
    }
    closePort();
    m_port.setPortName(QString::fromStdString(path));
    applySettings();
    if (!m_port.open(QIODevice::ReadWrite)) {
        const int number = m_port.error();
        const std::string detail = m_port.errorString().toStdString();
        m_port.clearError();
        return SerialError{
            number, describeOpenFailure(m_commPort, path, diagnoseOpenFailure(path), detail)};
    }
    // Qt's lock file keeps out programs that use the same locking; the advisory lock keeps
    // out the rest that lock the device, and a second panel whatever its lock directory.
    if (!lockDevice(static_cast<int>(m_port.handle()))) {
        m_port.close();
        return SerialError{QSerialPort::PermissionError,
                           describeOpenFailure(m_commPort, path, OpenFailure::InUse, {})};
    }
    applySettings();
    // Pseudo-terminals have no modem lines; failing to set them is no failure of the port.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();
    m_lost = false;
    return std::nullopt;
}

void QtSerialControl::closePort()
{
    if (m_port.isOpen())
        m_port.close();
    m_lost = false;
}

std::chrono::nanoseconds QtSerialControl::byteTime() const
{
    // A start bit, the data bits, a parity bit if any, the stop bits.
    const int bits = 1 + m_lineSettings.dataBits + (m_lineSettings.parity == 'N' ? 0 : 1) +
                     m_lineSettings.stopBits;
    return std::chrono::nanoseconds(1'000'000'000LL * bits / m_lineSettings.baud);
}

qint64 QtSerialControl::pendingOutput() const
{
    if (!portOpen())
        return 0;
    int queued = 0;
    if (::ioctl(static_cast<int>(m_port.handle()), TIOCOUTQ, &queued) != 0)
        queued = 0;
    // A pseudo-terminal reports no output queue and takes bytes faster than any line, so what
    // the line would still be carrying at the set speed counts as well.
    const auto now = std::chrono::steady_clock::now();
    const qint64 onTheLine =
        m_lineFreeAt > now
            ? (m_lineFreeAt - now + byteTime() - std::chrono::nanoseconds(1)) / byteTime()
            : 0;
    return std::max(m_port.bytesToWrite() + queued, onTheLine);
}

void QtSerialControl::output(std::string_view frame)
{
    if (!portOpen())
        return;
    const auto size = static_cast<qint64>(frame.size());
    if (pendingOutput() + size > kOutputBufferBytes) {
        ++m_droppedFrames;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    m_lineFreeAt = std::max(m_lineFreeAt, now) + byteTime() * size;
    m_port.write(frame.data(), size);
    // Hands the bytes to the operating system now instead of on the next turn of the event
    // loop; never waits for the line.
    m_port.flush();
}

std::string QtSerialControl::input()
{
    if (!m_port.isOpen())
        return {};
    const QByteArray bytes = m_port.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool QtSerialControl::hungUp() const
{
    pollfd fd{static_cast<int>(m_port.handle()), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void QtSerialControl::onReadyRead()
{
    if (m_lost || m_port.bytesAvailable() <= 0)
        return;
    m_commEvent = kEventReceive;
    raiseOnComm();
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    if (m_lost || !m_port.isOpen())
        return;
    // A hung-up line reads as end of file, which the serial layer reports as a read error
    // and would report again at every turn of the event loop.
    const bool lineGone =
        error == QSerialPort::ResourceError || (error == QSerialPort::ReadError && hungUp());
    if (!lineGone)
        return;
    // The device went away (an adapter pulled out, the far end of a pseudo-terminal closed).
    // The port is closed outside the serial layer's own notification, which is still running.
    m_lost = true;
    QTimer::singleShot(0, this, [this] {
        if (m_lost)
            closePort();
    });
    m_commEvent = kEventPortLost;
    raiseOnComm();
}
