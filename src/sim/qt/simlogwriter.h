#pragma once

#include <QObject>

#include "sim/core/simevent.h"

class QIODevice;
class ProjectorSimulator;

// Writes the simulator's traffic as log lines (see formatLogLine), each flushed as it is
// written so that a script tailing the log sees it at once.
class SimLogWriter : public QObject {
    Q_OBJECT
public:
    // The device must be open for writing and outlive the writer.
    SimLogWriter(ProjectorSimulator *simulator, QIODevice *device, QObject *parent = nullptr);

    // A comment line relating the log's clock to the wall clock.
    void writeHeader();
    void write(const SimEvent &event);

private:
    void writeLine(const std::string &line);

    QIODevice *m_device;
};
