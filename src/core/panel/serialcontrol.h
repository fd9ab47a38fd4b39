#pragma once

#include <optional>
#include <string>
#include <string_view>

// Why a port could not be had. The number is the panel's own, stable from release to release,
// so that an operator can quote it; the description says what went wrong and what to do.
enum class SerialErrorCode {
    NoSuchDevice = 1,
    PermissionDenied = 2,
    InUse = 3,
    AlreadyOpen = 4,
    BadSettings = 5,
    HostNotFound = 6,
    ConnectionRefused = 7,
    TimedOut = 8,
    SettingsRejected = 9,
    NoAnswer = 10,
    Other = 99,
};

struct SerialError {
    SerialErrorCode code = SerialErrorCode::Other;
    std::string description;

    int number() const { return static_cast<int>(code); }
};

// The serial control the panel talks through: which port, at which settings, open or not,
// frames out, and two reports back: bytes received and the line lost.
class SerialControl {
public:
    class Events {
    public:
        // Bytes as they arrive, at least one.
        virtual void received(std::string_view bytes) = 0;
        // The line went away under an open port (a device unplugged, a connection dropped):
        // the port is closed now, and choosing it again opens it anew.
        virtual void lost() = 0;
        // A port whose setPortOpen(true) returned no error but is still connecting (a network
        // port) reports how the opening ended: opened() once it carries frames, or
        // openFailed() with the reason, the port closed again. Also openFailed() when a server
        // refuses a speed change on an open port, which closes it. A local device opens at
        // once and reports neither.
        virtual void opened() {}
        virtual void openFailed(const SerialError &error) { static_cast<void>(error); }

    protected:
        ~Events() = default;
    };

    virtual ~SerialControl() = default;

    void setEvents(Events *events) { m_events = events; }

    virtual void setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    // "19200,N,8,1" form, applied at once to an open port. False, and nothing changed, for a
    // text not of that form.
    [[nodiscard]] virtual bool setSettings(std::string_view settings) = 0;
    virtual std::string settings() const = 0;
    virtual bool portOpen() const = 0;
    // True while an opening that setPortOpen(true) accepted is still under way; its outcome
    // comes as Events::opened() or Events::openFailed().
    virtual bool opening() const { return false; }
    // Opens or closes the port; opening an open port or a port that cannot be had fails.
    // Closing never fails. A network port returns no error when the connection was started
    // and reports the outcome through Events; it counts as open while connecting, and drops
    // every frame whole until connected.
    [[nodiscard]] virtual std::optional<SerialError> setPortOpen(bool open) = 0;
    void closePort() { static_cast<void>(setPortOpen(false)); }
    // Writes one frame whole, or drops it whole when the port is closed or its output buffer
    // cannot take all of it. True when it was written.
    virtual bool output(std::string_view frame) = 0;

protected:
    void reportReceived(std::string_view bytes)
    {
        if (m_events && !bytes.empty())
            m_events->received(bytes);
    }
    void reportLost()
    {
        if (m_events)
            m_events->lost();
    }

    void reportOpened()
    {
        if (m_events)
            m_events->opened();
    }
    void reportOpenFailed(const SerialError &error)
    {
        if (m_events)
            m_events->openFailed(error);
    }

private:
    Events *m_events = nullptr;
};
