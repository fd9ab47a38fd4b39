#pragma once

#include <QObject>
#include <QSerialPort>
#include <atomic>
#include <memory>

#include "core/panel/devicemap.h"
#include "core/panel/linebacklog.h"
#include "core/panel/linesettings.h"
#include "core/panel/serialcontrol.h"
#include "qt/linethread.h"

class Clock;

// The serial control over QSerialPort: 8N1 at 19200 or 9600 baud, no handshaking, the port
// taken exclusively. Writes never block; a frame that the output buffer cannot take whole is
// dropped whole. QSerialPort opens the device, sets it up and closes it; the reads and writes
// run on a LineThread, so this thread never waits in the kernel on the line, and what arrives
// is handed over here.
class QtSerialControl final : public QObject, public SerialControl {
    Q_OBJECT
public:
    // What the line may hold unsent, here and in the operating system's queue together: a
    // frame that does not fit is dropped whole, so a held button repeating faster than the
    // line carries its frames leaves at most this much behind it.
    static constexpr qint64 kOutputBufferBytes = 512;

    // clock: the time against which the line's backlog is reckoned.
    QtSerialControl(DeviceMap devices, const Clock &clock, QObject *parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int port) override { m_commPort = port; }
    int commPort() const override { return m_commPort; }
    [[nodiscard]] bool setSettings(std::string_view settings) override;
    std::string settings() const override { return m_settingsText; }
    bool portOpen() const override { return m_port.isOpen() && !m_lost; }
    [[nodiscard]] std::optional<SerialError> setPortOpen(bool open) override;
    bool output(std::string_view frame) override;

    const DeviceMap &devices() const { return m_devices; }
    // Bytes written but not yet on the line.
    qint64 pendingOutput() const;
    // Frames dropped whole because the output buffer could not take them.
    quint64 droppedFrames() const { return m_droppedFrames; }

private:
    void applySettings();
    void onReceived();
    void onLineLost();
    void onError(QSerialPort::SerialPortError error);
    void close();
    bool hungUp() const;

    DeviceMap m_devices;
    const Clock &m_clock;
    QSerialPort m_port;  // also a child, so that tests can play the serial layer's reports
    LineSettings m_lineSettings;
    LineBacklog m_backlog;
    std::string m_settingsText = "9600,N,8,1";
    int m_commPort = 1;
    quint64 m_droppedFrames = 0;
    int m_lockFd = -1;  // the panel's own descriptor of the open device: its lock, its I/O
    bool m_lost = false;
    // Bumped once the line's thread has stopped, so that what it handed over for an earlier
    // opening is recognised and dropped.
    std::atomic<quint64> m_generation = 0;
    std::unique_ptr<LineThread> m_line;
};
