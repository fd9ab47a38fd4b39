#pragma once

#include <QString>
#include <memory>

#include "core/panel/devicemap.h"
#include "core/panel/loggingserialcontrol.h"
#include "core/panel/portrouter.h"
#include "qt/netserialcontrol.h"
#include "qt/qtserialcontrol.h"
#include "qt/trafficlogfile.h"

class Clock;

// The serial control a program talks through: each port a local device or a network address
// as it is mapped, and the traffic log looking on from between the program and the line when a
// log file is given. Without one, nothing stands in between.
class ProgramLine {
public:
    ProgramLine(const DeviceMap &devices, const Clock &clock, const QString &logPath)
        : m_local(devices, clock), m_network(devices, clock), m_router(devices, m_local, m_network)
    {
        if (logPath.isEmpty())
            return;
        m_log = std::make_unique<TrafficLogFile>(logPath);
        m_logging = std::make_unique<LoggingSerialControl>(m_router, devices, *m_log);
    }
    ProgramLine(const ProgramLine &) = delete;
    ProgramLine &operator=(const ProgramLine &) = delete;

    SerialControl &control()
    {
        if (m_logging)
            return *m_logging;
        return m_router;
    }

private:
    QtSerialControl m_local;
    NetSerialControl m_network;
    PortRouter m_router;
    std::unique_ptr<TrafficLogFile> m_log;
    std::unique_ptr<LoggingSerialControl> m_logging;
};
