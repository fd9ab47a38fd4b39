#include "core/panel/loggingserialcontrol.h"

#include "core/protocol/escaping.h"

std::string formatTrafficLine(std::string_view time, TrafficLogSink::Direction direction,
                              std::string_view port, std::string_view bytes)
{
    std::string line(time);
    line += direction == TrafficLogSink::Direction::Tx ? " TX " : " RX ";
    line += port;
    line.push_back(' ');
    line += escapeTraffic(bytes);
    return line;
}

LoggingSerialControl::LoggingSerialControl(SerialControl &inner, DeviceMap devices,
                                           TrafficLogSink &sink)
    : m_inner(inner), m_devices(std::move(devices)), m_sink(sink)
{
    m_inner.setEvents(this);
}

LoggingSerialControl::~LoggingSerialControl()
{
    m_inner.setEvents(nullptr);
}

bool LoggingSerialControl::output(std::string_view frame)
{
    // Only what went on the line: a dropped frame was never sent.
    const bool written = m_inner.output(frame);
    if (written)
        m_sink.record(TrafficLogSink::Direction::Tx, m_devices.path(m_inner.commPort()), frame);
    return written;
}

void LoggingSerialControl::received(std::string_view bytes)
{
    m_sink.record(TrafficLogSink::Direction::Rx, m_devices.path(m_inner.commPort()), bytes);
    reportReceived(bytes);
}
