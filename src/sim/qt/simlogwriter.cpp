#include "sim/qt/simlogwriter.h"

#include <QDateTime>
#include <QFileDevice>
#include <QIODevice>

#include "sim/qt/projectorsimulator.h"

SimLogWriter::SimLogWriter(ProjectorSimulator *simulator, QIODevice *device, QObject *parent)
    : QObject(parent), m_device(device)
{
    connect(simulator, &ProjectorSimulator::traffic, this, &SimLogWriter::write);
}

void SimLogWriter::writeHeader()
{
    const std::int64_t monotonic = monotonicNowUs();
    const QString wall = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    writeLine("# " + formatTimestamp(monotonic) + " on CLOCK_MONOTONIC is " + wall.toStdString());
}

void SimLogWriter::write(const SimEvent &event)
{
    writeLine(formatLogLine(event));
}

void SimLogWriter::writeLine(const std::string &line)
{
    m_device->write(line.data(), static_cast<qint64>(line.size()));
    m_device->write("\n", 1);
    if (auto *file = qobject_cast<QFileDevice *>(m_device))
        file->flush();
}
