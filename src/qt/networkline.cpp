#include "qt/networkline.h"

#include <system_error>
#include <utility>

#include "qt/opendiagnosis.h"

namespace {

SerialErrorCode codeFor(NetFailure failure)
{
    switch (failure) {
    case NetFailure::HostNotFound:
        return SerialErrorCode::HostNotFound;
    case NetFailure::Refused:
        return SerialErrorCode::ConnectionRefused;
    case NetFailure::TimedOut:
        return SerialErrorCode::TimedOut;
    case NetFailure::SettingsRejected:
        return SerialErrorCode::SettingsRejected;
    case NetFailure::NoAnswer:
        return SerialErrorCode::NoAnswer;
    case NetFailure::Closed:
    case NetFailure::Other:
        break;
    }
    return SerialErrorCode::Other;
}

}  // namespace

NetworkLine::NetworkLine(Events events) : m_events(std::move(events)) {}

NetworkLine::~NetworkLine()
{
    // Joins the line's thread before the members its events use go away.
    m_line.reset();
}

SerialError NetworkLine::errorFor(const NetError &error) const
{
    const SerialErrorCode code = codeFor(error.failure);
    return {code, describeNetFailure(m_port, m_url, code, error.detail)};
}

std::optional<SerialError> NetworkLine::open(int port, const std::string &url,
                                             const LineSettings &settings)
{
    close();
    m_port = port;
    m_url = url;
    m_address = parseNetAddress(url);
    if (!m_address) {
        return SerialError{SerialErrorCode::BadSettings,
                           describeNetFailure(port, url, SerialErrorCode::BadSettings, {})};
    }
    if (!m_line) {
        NetLine::Events events;
        events.opened = [this](std::optional<NetError> error) {
            if (!m_events.opened)
                return;
            if (error)
                m_events.opened(errorFor(*error));
            else
                m_events.opened(std::nullopt);
        };
        events.received = [this](const std::string &bytes) { received(bytes); };
        events.lost = m_events.lost;
        events.settingsRejected = [this](const NetError &error) {
            if (m_events.settingsRefused)
                m_events.settingsRefused(errorFor(error));
        };
        try {
            m_line = std::make_unique<NetLine>(std::move(events));
        } catch (const std::exception &error) {
            return SerialError{
                SerialErrorCode::Other,
                describeNetFailure(port, url, SerialErrorCode::Other,
                                   std::string("cannot start the network line: ") + error.what())};
        }
    }
    m_line->open(*m_address, settings.baud, kConnectTimeout);
    return std::nullopt;
}

void NetworkLine::close()
{
    // Once close() returns the line delivers nothing more of this connection.
    if (m_line)
        m_line->close();
    const std::lock_guard lock(m_mutex);
    m_in.clear();
}

void NetworkLine::setSettings(const LineSettings &settings)
{
    // Data bits, parity and stop bits are 8N1 in every text the panel hands over; the speed
    // is what changes. A raw tcp:// line has no way to change it.
    if (m_line)
        m_line->setBaud(settings.baud);
}

bool NetworkLine::write(std::string_view frame)
{
    // The control has checked the bound against unsent(); the line only refuses a frame when
    // its connection has gone meanwhile.
    return m_line && m_line->write(frame, frame.size() + m_line->pending());
}

std::size_t NetworkLine::unsent() const
{
    return m_line ? m_line->pending() : 0;
}

bool NetworkLine::knowsLineSpeed() const
{
    return m_address && m_address->kind == NetAddress::Kind::Rfc2217;
}

void NetworkLine::received(const std::string &bytes)
{
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_in.empty();
        m_in += bytes;
    }
    if (first && m_events.received)
        m_events.received();
}

std::string NetworkLine::takeReceived()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_in, {});
}
