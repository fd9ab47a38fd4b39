#pragma once

#include <memory>
#include <string>

#include "core/panel/devicemap.h"
#include "core/panel/loggingserialcontrol.h"
#include "qt/qtserialcontrol.h"
#include "qt/trafficlogfile.h"

class Clock;

// The serial control a program talks through: each port a local device or a network address
// as it is mapped, and the traffic log looking on from between the program and the line when a
// log file is given. Without one, nothing stands in between.
class ProgramLine {
public:
    // logPath: the file's name as given, bytes that need not be UTF-8; empty for no log.
    ProgramLine(const DeviceMap &devices, const Clock &clock, const std::string &logPath)
        : m_line(devices, clock)
    {
        if (logPath.empty())
            return;
        m_log = std::make_unique<TrafficLogFile>(logPath);
        m_logging = std::make_unique<LoggingSerialControl>(m_line, devices, *m_log);
    }
    ProgramLine(const ProgramLine &) = delete;
    ProgramLine &operator=(const ProgramLine &) = delete;

    SerialControl &control()
    {
        if (m_logging)
            return *m_logging;
        return m_line;
    }

private:
    QtSerialControl m_line;
    std::unique_ptr<TrafficLogFile> m_log;
    std::unique_ptr<LoggingSerialControl> m_logging;
};
