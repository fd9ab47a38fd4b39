#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

// The line projector-sim names in the first line it prints ("projector-sim: listening on
// /dev/pts/3"), or an empty string while that line has not come.
inline QString simListeningPath(const QByteArray &output)
{
    static const QRegularExpression line(QStringLiteral("^projector-sim: listening on (\\S+)\n"));
    const auto match = line.match(QString::fromLocal8Bit(output));
    return match.hasMatch() ? match.captured(1) : QString();
}

// projector-sim as a child process, logging to a file: the program its test target names in
// PROJECTOR_SIM.
class SimProcess {
public:
    static constexpr int kTimeoutMs = 10000;

    explicit SimProcess(const QString &logPath, QStringList options = {}) : m_logPath(logPath)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { m_output += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(PROJECTOR_SIM), options << "--log" << logPath);
    }
    ~SimProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(kTimeoutMs);
    }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Waits for the line its first line of output names; false if none came in time.
    bool waitListening()
    {
        if (!QTest::qWaitFor([&] { return !simListeningPath(m_output).isEmpty(); }, kTimeoutMs))
            return false;
        m_path = simListeningPath(m_output);
        return true;
    }
    const QString &path() const { return m_path; }
    // The path once it listens, empty if it never does.
    QString waitPath() { return waitListening() ? m_path : QString(); }

    // The log's events of one kind ("RX", "TX"): the text after the kind.
    QStringList events(const QString &kind) const
    {
        QStringList found;
        for (const QString &event : traffic()) {
            if (event.section(QLatin1Char(' '), 0, 0) == kind)
                found << event.section(QLatin1Char(' '), 1);
        }
        return found;
    }
    // The log's RX and TX events, in order: "RX A001 CR0", "TX 1 00\r".
    QStringList traffic() const
    {
        QFile file(m_logPath);
        QStringList found;
        if (!file.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString text = QString::fromLatin1(line);
            const QString kind = text.section(QLatin1Char(' '), 1, 1);
            if (kind == QLatin1String("RX") || kind == QLatin1String("TX"))
                found << text.section(QLatin1Char(' '), 1);
        }
        return found;
    }

private:
    QProcess m_process;
    QByteArray m_output;
    QString m_logPath;
    QString m_path;
};
