#include "qt/trafficlogfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <iostream>
#include <utility>

TrafficLogFile::TrafficLogFile(std::string path, QObject *parent)
    : QObject(parent), m_path(std::move(path))
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &TrafficLogFile::flush);
    if (!m_file.open(m_path))
        fail(QString::fromStdString(m_file.error()));
}

TrafficLogFile::~TrafficLogFile()
{
    flush();
}

void TrafficLogFile::record(Direction direction, std::string_view port, std::string_view bytes)
{
    if (m_failed)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray time =
        now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
    m_pending +=
        formatTrafficLine(std::string_view(time.constData(), time.size()), direction, port, bytes);
    m_pending += '\n';
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void TrafficLogFile::flush()
{
    m_flushTimer.stop();
    if (m_failed || m_pending.isEmpty())
        return;
    if (!m_file.append(std::string_view(m_pending.constData(), m_pending.size()))) {
        fail(QString::fromStdString(m_file.error()));
        return;
    }
    m_pending.clear();
}

void TrafficLogFile::fail(const QString &reason)
{
    m_failed = true;
    m_pending.clear();
    m_pending.squeeze();
    std::cerr << QCoreApplication::applicationName().toStdString()
              << ": warning: cannot write the traffic log " << m_path << ": "
              << reason.toStdString() << "; traffic is no longer logged\n";
}
