#include "qt/trafficlogfile.h"

#include <fcntl.h>

#include <QCoreApplication>
#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <iostream>

TrafficLogFile::TrafficLogFile(const QString &path, QObject *parent) : QObject(parent), m_path(path)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &TrafficLogFile::flush);
    // Opened by hand: QFile's append mode seeks, which a device such as /dev/full refuses.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    else if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                          QFileDevice::AutoCloseHandle))
        fail(m_file.errorString());
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
    const qint64 written = m_file.write(m_pending);
    if (written != m_pending.size()) {
        fail(m_file.errorString());
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
              << ": warning: cannot write the traffic log " << m_path.toStdString() << ": "
              << reason.toStdString() << "; traffic is no longer logged\n";
}
