#pragma once

#include <QObject>
#include <atomic>
#include <memory>

#include "core/panel/devicemap.h"
#include "core/panel/linebacklog.h"
#include "core/panel/linesettings.h"
#include "core/panel/serialcontrol.h"

class Clock;
class LineTransport;

// The program's serial control: which port, at which settings, open or not, and frames out,
// over the transport the port's name calls for: a local device (DeviceLine) or a serial server
// on the network (NetworkLine). It owns, once for every transport, the output bound with its
// backlog and its count of dropped frames, and the hand-over of the line's events to the thread
// it lives on, so that Events only ever run there and nothing of a closed opening arrives after
// it. A transport's thread exists only while its port is in use.
class QtSerialControl final : public QObject, public SerialControl {
    Q_OBJECT
public:
    // What the line may hold unsent, here, in the transport and in the system's queue
    // together: a frame that does not fit is dropped whole, so a held button repeating faster
    // than the line carries its frames leaves at most this much behind it.
    static constexpr qint64 kOutputBufferBytes = 512;

    // clock: the time against which the line's backlog is reckoned.
    QtSerialControl(DeviceMap devices, const Clock &clock, QObject *parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int port) override { m_commPort = port; }
    int commPort() const override { return m_commPort; }
    [[nodiscard]] bool setSettings(std::string_view settings) override;
    std::string settings() const override { return m_settingsText; }
    bool portOpen() const override { return m_state != State::Closed; }
    bool opening() const override { return m_state == State::Connecting; }
    [[nodiscard]] std::optional<SerialError> setPortOpen(bool open) override;
    bool output(std::string_view frame) override;

    const DeviceMap &devices() const { return m_devices; }
    // Bytes written but not yet on the line, as far as this end can tell.
    qint64 pendingOutput() const;
    // Frames dropped whole because the output bound could not take them.
    quint64 droppedFrames() const { return m_droppedFrames; }

private:
    enum class State { Closed, Connecting, Open };

    // On the transport's thread: hands the event over with the generation it belongs to.
    template <typename Handler>
    void post(Handler handler);
    LineTransport &transportFor(const std::string &name);
    void onReceived();
    void onOpened(const std::optional<SerialError> &error);
    void onLost();
    void onSettingsRefused(const SerialError &error);
    void close();

    DeviceMap m_devices;
    const Clock &m_clock;
    LineSettings m_lineSettings;
    LineBacklog m_backlog;
    std::string m_settingsText = "9600,N,8,1";
    int m_commPort = 1;
    State m_state = State::Closed;
    quint64 m_droppedFrames = 0;
    // Bumped on this thread once the transport has stopped delivering for an opening, so that
    // what it handed over for that opening is recognised and dropped.
    std::atomic<quint64> m_generation = 0;
    std::unique_ptr<LineTransport> m_transport;
};
