#pragma once

#include <QObject>
#include <QString>

#include "sim/core/simevent.h"

class LogFile;
class ProjectorSimulator;

// Writes the simulator's traffic as log lines (see formatLogLine), each written whole as it
// comes so that a script tailing the log sees it at once. A log that cannot be written gives one
// warning on standard error, naming the reason, and is written no more; a reader that went away
// (projector-sim | head) ends it quietly.
class SimLogWriter : public QObject {
    Q_OBJECT
public:
    // The log must be open and outlive the writer; name is how the warning speaks of it.
    SimLogWriter(ProjectorSimulator *simulator, LogFile *log, QString name,
                 QObject *parent = nullptr);

    // A comment line relating the log's clock to the wall clock, then the lines held since the
    // writer was made: the log starts with it, whatever happened while the line was opened.
    void writeHeader();
    void write(const SimEvent &event);

private:
    void writeLine(const std::string &line);

    LogFile *m_log;
    QString m_name;
    std::string m_held;
    bool m_started = false;
    bool m_failed = false;
};
