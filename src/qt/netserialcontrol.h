#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <optional>

#include "core/panel/devicemap.h"
#include "core/panel/linebacklog.h"
#include "core/panel/linesettings.h"
#include "core/panel/serialcontrol.h"
#include "qt/netline.h"

class Clock;

// The serial control for a port mapped to rfc2217://HOST:PORT or tcp://HOST:PORT, over a
// NetLine. Opening connects in the background and reports the outcome through Events; the line's
// events are handed to the thread this object lives on, so Events only ever run there. While
// connecting the port counts as open and drops every frame whole, as a closed port does.
class NetSerialControl final : public QObject, public SerialControl {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kConnectTimeout{5000};

    // clock: the time against which the far line's backlog is reckoned (rfc2217, where the
    // panel sets the speed; a tcp:// line's speed is the server's, unknown here).
    NetSerialControl(DeviceMap devices, const Clock &clock, QObject *parent = nullptr);
    ~NetSerialControl() override;

    void setCommPort(int port) override { m_commPort = port; }
    int commPort() const override { return m_commPort; }
    [[nodiscard]] bool setSettings(std::string_view settings) override;
    std::string settings() const override { return m_settingsText; }
    bool portOpen() const override { return m_state != State::Closed; }
    bool opening() const override { return m_state == State::Connecting; }
    [[nodiscard]] std::optional<SerialError> setPortOpen(bool open) override;
    bool output(std::string_view frame) override;

    // Bytes written but not yet on the far line, as far as this end can tell.
    qint64 pendingOutput() const;
    quint64 droppedFrames() const { return m_droppedFrames; }

private:
    enum class State { Closed, Connecting, Open };

    // On the line's thread: hands the event over with the generation it belongs to.
    template <typename Handler>
    void post(Handler handler);
    void onOpened(const std::optional<NetError> &error);
    void onReceived(const std::string &bytes);
    void onLost();
    void onSettingsRejected(const NetError &error);
    void close();
    SerialError errorFor(const NetError &error) const;

    DeviceMap m_devices;
    const Clock &m_clock;
    LineSettings m_lineSettings;
    LineBacklog m_backlog;
    std::string m_settingsText = "9600,N,8,1";
    std::optional<NetAddress> m_address;
    int m_commPort = 1;
    State m_state = State::Closed;
    quint64 m_droppedFrames = 0;
    // Bumped on this thread after the line has stopped delivering for the old connection, so
    // a handed-over event of an earlier connection is recognised and dropped.
    std::atomic<quint64> m_generation = 0;
    std::unique_ptr<NetLine> m_line;
};
