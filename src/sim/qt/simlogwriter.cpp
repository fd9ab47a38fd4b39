#include "sim/qt/simlogwriter.h"

#include <QDateTime>
#include <cstdio>
#include <utility>

#include "os/logfile.h"
#include "sim/qt/projectorsimulator.h"

SimLogWriter::SimLogWriter(ProjectorSimulator *simulator, LogFile *log, QString name,
                           QObject *parent)
    : QObject(parent), m_log(log), m_name(std::move(name))
{
    connect(simulator, &ProjectorSimulator::traffic, this, &SimLogWriter::write);
}

void SimLogWriter::writeHeader()
{
    const std::int64_t monotonic = monotonicNowUs();
    const QString wall = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    m_started = true;
    writeLine("# " + formatTimestamp(monotonic) + " on CLOCK_MONOTONIC is " + wall.toStdString() +
              '\n' + std::exchange(m_held, {}));
}

void SimLogWriter::write(const SimEvent &event)
{
    writeLine(formatLogLine(event));
}

void SimLogWriter::writeLine(const std::string &line)
{
    if (!m_started) {
        m_held += line + '\n';
        return;
    }
    if (m_failed || !m_log->isOpen() || m_log->append(line.ends_with('\n') ? line : line + '\n'))
        return;
    m_failed = true;
    if (!m_log->readerGone()) {
        std::fprintf(stderr,
                     "projector-sim: warning: cannot write the log %s: %s; traffic is no "
                     "longer logged\n",
                     qPrintable(m_name), m_log->error().c_str());
    }
}
