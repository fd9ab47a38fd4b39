#pragma once

#include <termios.h>

#include <memory>
#include <optional>

#include "qt/linethread.h"
#include "qt/linetransport.h"

class QLockFile;

// The line's settings as the device takes them, built on what the device had: raw, 8N1 or as
// given, no handshaking, reads that never wait, and the receiver on (CREAD) with the modem's
// carrier ignored (CLOCAL), whatever the device's previous user left. nullopt for a speed the
// system has no constant for.
std::optional<termios> lineTermios(const termios &current, const LineSettings &settings);

// A local serial device (/dev/ttyS0, a USB adapter, a pseudo-terminal): one descriptor, opened
// for reading and writing, on which the program takes the advisory lock, the serial lock file
// in /run/lock and exclusive use (TIOCEXCL), and which its LineThread reads and writes. The
// device's settings are restored when it closes.
class DeviceLine final : public LineTransport {
public:
    explicit DeviceLine(Events events);
    ~DeviceLine() override;

    std::optional<SerialError> open(int port, const std::string &path,
                                    const LineSettings &settings) override;
    bool opensAtOnce() const override { return true; }
    void close() override;
    void setSettings(const LineSettings &settings) override;
    bool write(std::string_view frame) override;
    std::size_t unsent() const override;
    bool knowsLineSpeed() const override { return true; }
    std::string takeReceived() override;

private:
    SerialError failure(SerialErrorCode code, const std::string &detail) const;
    // Sets the device's line; false, with errno, when it refuses.
    bool apply(const LineSettings &settings);
    bool hungUp() const;

    const Events m_events;
    int m_port = 1;
    std::string m_path;
    int m_fd = -1;
    termios m_restore{};
    bool m_restoreOnClose = false;
    bool m_exclusive = false;
    std::unique_ptr<QLockFile> m_lockFile;
    std::unique_ptr<LineThread> m_line;
};
