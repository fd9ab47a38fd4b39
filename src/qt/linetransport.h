#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/panel/linesettings.h"
#include "core/panel/serialcontrol.h"

// What carries a port's bytes: a local device (DeviceLine) or a connection to a serial server
// (NetworkLine). A transport moves bytes and reports; the serial control above it owns the port
// number, the settings, the output bound and the hand-over to its own thread.
class LineTransport {
public:
    // Each event runs on the transport's own thread, with no lock of the transport held.
    struct Events {
        // Bytes have arrived and none were waiting: takeReceived() gets them, and any that come
        // after it until it has emptied the buffer. Not called again until then.
        std::function<void()> received;
        // Once: the line went away under an open transport.
        std::function<void()> lost;
        // How an opening that open() accepted without an error ended, for a transport that
        // does not open at once: nullopt once it carries frames.
        std::function<void(std::optional<SerialError>)> opened;
        // A settings change that the line refused: it cannot go on at the speed shown.
        std::function<void(SerialError)> settingsRefused;
    };

    virtual ~LineTransport() = default;

    // Starts using the line named name as port number port: an error at once, or nullopt. A
    // transport that does not open at once reports the outcome through Events::opened.
    virtual std::optional<SerialError> open(int port, const std::string &name,
                                            const LineSettings &settings) = 0;
    virtual bool opensAtOnce() const = 0;
    // No event of the closed opening runs once this returns.
    virtual void close() = 0;
    virtual void setSettings(const LineSettings &settings) = 0;
    // Queues a frame behind those not yet written; the caller has checked the bound. False when
    // the line could not take it (a connection that has just gone).
    virtual bool write(std::string_view frame) = 0;
    // Bytes written but not yet handed on, here and in the system's queue, as far as this end
    // can tell.
    virtual std::size_t unsent() const = 0;
    // True when the far line runs at the speed set here, so that what it still carries can be
    // reckoned from the speed; a raw TCP line's speed is the server's, unknown here.
    virtual bool knowsLineSpeed() const = 0;
    // Everything received since the last call.
    virtual std::string takeReceived() = 0;

protected:
    LineTransport() = default;
    LineTransport(const LineTransport &) = delete;
    LineTransport &operator=(const LineTransport &) = delete;
};
