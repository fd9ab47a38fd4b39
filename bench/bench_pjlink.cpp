// koru-pjlink's figures, printed (docs/performance.md): what a PJLink query adds to the direct
// round trip of the same query on the line, the queries a second 16 clients get through one
// 19200-baud line beside the line's own limit, the gateway's memory with 4 projectors and 16
// clients, and its wake-ups a second with no client.
//
//   bench_pjlink --sim PROJECTOR-SIM --gateway KORU-PJLINK --work DIR
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/ctl/linetransactions.h"
#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"

namespace {

constexpr int kRoundTrips = 1000;
constexpr int kClients = 16;
constexpr int kThroughputSeconds = 5;
constexpr int kIdleSeconds = 10;

QString g_sim;
QString g_gateway;
QString g_work;

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// A child process whose standard output and error are kept.
class Child {
public:
    Child(const QString &program, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, arguments);
    }
    ~Child()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    // The first capture of pattern in the output, once count matches have come.
    QString await(const QString &pattern, int count = 1)
    {
        const QRegularExpression re(pattern);
        waitFor(
            [&] {
                m_output += m_process.readAll();
                return QString::fromLocal8Bit(m_output).count(re) >= count;
            },
            10000);
        return re.match(QString::fromLocal8Bit(m_output)).captured(1);
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[static_cast<std::size_t>(p * (values.size() - 1))];
}

// Reads one reply line from a socket, waiting for it.
QByteArray replyLine(QTcpSocket &socket, QByteArray &buffer)
{
    while (!buffer.contains('\r')) {
        if (!socket.waitForReadyRead(5000))
            return {};
        buffer += socket.readAll();
    }
    const qsizetype end = buffer.indexOf('\r');
    const QByteArray line = buffer.left(end);
    buffer.remove(0, end + 1);
    return line;
}

void overhead()
{
    Child sim(g_sim, {"--log", g_work + "/overhead-sim.log"});
    const QString pty = sim.await(QStringLiteral("listening on (\\S+)\n"));
    std::vector<double> direct;
    {
        QtClock clock;
        QtSerialControl port(DeviceMap{pty.toStdString(), {}}, clock);
        port.setCommPort(1);
        static_cast<void>(port.setSettings("19200,N,8,1"));
        if (port.setPortOpen(true))
            return static_cast<void>(std::puts("pjlink overhead: the line did not open"));
        LineTransactions line(port, clock, 500);
        for (int i = 0; i < kRoundTrips; ++i) {
            QEventLoop loop;
            QElapsedTimer timer;
            bool done = false;
            bool ok = false;
            timer.start();
            line.request("CR0\r", [&](TransactionResult result) {
                ok = result.end == TransactionEnd::Reply;
                done = true;
                loop.quit();
            });
            if (!done)
                loop.exec();
            // A time-out is no round trip: the figure would be the time-out's.
            if (!ok)
                return static_cast<void>(std::puts("pjlink overhead: a CR0 got no reply"));
            direct.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        port.closePort();
    }
    const quint16 listen = freePort();
    Child gateway(g_gateway, {"--line", pty, "--listen", "127.0.0.1:" + QString::number(listen)});
    gateway.await(QStringLiteral("(listening on)"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, listen);
    QByteArray buffer;
    replyLine(socket, buffer);
    std::vector<double> pjlink;
    for (int i = 0; i < kRoundTrips; ++i) {
        QElapsedTimer timer;
        timer.start();
        socket.write("%1POWR ?\r");
        socket.flush();
        if (replyLine(socket, buffer) != "%1POWR=0")
            return static_cast<void>(std::puts("pjlink overhead: a reply was not %1POWR=0"));
        pjlink.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("pjlink  round trip, direct on the line (CR0)      median %.3f ms  p99 %.3f ms\n",
                percentile(direct, 0.5), percentile(direct, 0.99));
    std::printf("pjlink  round trip, POWR ? through koru-pjlink    median %.3f ms  p99 %.3f ms\n",
                percentile(pjlink, 0.5), percentile(pjlink, 0.99));
    std::printf(
        "pjlink  added by PJLink                           median %.3f ms  p99 %.3f ms"
        "  (target < 1 ms)\n",
        percentile(pjlink, 0.5) - percentile(direct, 0.5),
        percentile(pjlink, 0.99) - percentile(direct, 0.99));
}

// A client asking POWR ? again as soon as each reply comes.
class Asker : public QObject {
public:
    explicit Asker(quint16 port)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            m_buffer += m_socket.readAll();
            qsizetype end;
            while ((end = m_buffer.indexOf('\r')) >= 0) {
                if (m_buffer.startsWith("%1POWR="))
                    ++answers;
                m_buffer.remove(0, end + 1);
                if (!stopped)
                    m_socket.write("%1POWR ?\r");
            }
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    int answers = 0;
    bool stopped = false;

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

long fieldOf(const QString &path, const char *field)
{
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// A field of the process's /proc status, in its own unit (kB for VmRSS).
long processField(qint64 pid, const char *field)
{
    return fieldOf(QStringLiteral("/proc/%1/status").arg(pid), field);
}

// A field summed over every thread of the process.
long statusField(qint64 pid, const char *field)
{
    long sum = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList names = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : names)
        sum += fieldOf(tasks.filePath(task) + "/status", field);
    return sum;
}

void throughputMemoryAndIdle()
{
    Child sim(g_sim, {"--chain", "4", "--pace", "--log", g_work + "/throughput-sim.log"});
    const QString pty = sim.await(QStringLiteral("listening on (\\S+)\n"));
    // The same line driven directly, as koru-ctl drives it, back to back: the ceiling of the
    // serial layer beneath the gateway.
    {
        QtClock clock;
        QtSerialControl port(DeviceMap{pty.toStdString(), {}}, clock);
        port.setCommPort(1);
        static_cast<void>(port.setSettings("19200,N,8,1"));
        if (port.setPortOpen(true))
            return static_cast<void>(std::puts("pjlink throughput: the line did not open"));
        LineTransactions line(port, clock, 500);
        int answered = 0;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kThroughputSeconds * 1000) {
            QEventLoop loop;
            bool done = false;
            line.request("A001CR0\r", [&](TransactionResult result) {
                answered += result.end == TransactionEnd::Reply;
                done = true;
                loop.quit();
            });
            if (!done)
                loop.exec();
        }
        port.closePort();
        std::printf("pjlink  CR0 a second, directly on the same line, back to back: %.1f\n",
                    answered * 1000.0 / static_cast<double>(timer.elapsed()));
    }
    QByteArray config;
    QList<quint16> ports;
    for (int i = 1; i <= 4; ++i) {
        ports << freePort();
        config += "[projector]\nline = " + pty.toUtf8() + "\naddress = 00" + QByteArray::number(i) +
                  "\nlisten = 127.0.0.1:" + QByteArray::number(ports.back()) + "\n";
    }
    QFile file(g_work + "/koru-pjlink.conf");
    file.open(QIODevice::WriteOnly);
    file.write(config);
    file.close();
    Child gateway(g_gateway, {"--config", file.fileName()});
    gateway.await(QStringLiteral("(listening on)"), 4);
    long rss = 0;
    {
        std::vector<std::unique_ptr<Asker>> askers;
        for (int i = 0; i < kClients; ++i)
            askers.push_back(std::make_unique<Asker>(ports[i % 4]));
        waitFor([] { return false; }, 1000);  // connected, greeted, warmed up
        int before = 0;
        for (const auto &asker : askers)
            before += asker->answers;
        QElapsedTimer timer;
        timer.start();
        waitFor([] { return false; }, kThroughputSeconds * 1000);
        int after = 0;
        for (const auto &asker : askers)
            after += asker->answers;
        const double seconds = static_cast<double>(timer.elapsed()) / 1000;
        rss = processField(gateway.pid(), "VmRSS:");
        for (const auto &asker : askers)
            asker->stopped = true;
        // A frame "A001CR0" CR and its reply "00" CR: 11 bytes of 10 bits each at 19200 bit/s.
        const double limit = 19200.0 / (11 * 10);
        const double rate = (after - before) / seconds;
        std::printf(
            "pjlink  POWR ? a second, %d clients, 4 projectors, one 19200 line: %.1f"
            " (the line's limit %.1f: %.1f %%; target within 10 %%)\n",
            kClients, rate, limit, 100 * rate / limit);
        std::printf("pjlink  VmRSS with 4 projectors and %d clients: %.1f MB (target < 15 MB)\n",
                    kClients, static_cast<double>(rss) / 1024);
    }
    waitFor([] { return false; }, 1000);  // the connections closed
    const long switchesBefore = statusField(gateway.pid(), "voluntary_ctxt_switches:") +
                                statusField(gateway.pid(), "nonvoluntary_ctxt_switches:");
    QThread::sleep(kIdleSeconds);
    const long switchesAfter = statusField(gateway.pid(), "voluntary_ctxt_switches:") +
                               statusField(gateway.pid(), "nonvoluntary_ctxt_switches:");
    std::printf("pjlink  idle, no client, %d s: %.1f wake-ups a second (target 0)\n", kIdleSeconds,
                static_cast<double>(switchesAfter - switchesBefore) / kIdleSeconds);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == "--sim")
            g_sim = arguments[i + 1];
        else if (arguments[i] == "--gateway")
            g_gateway = arguments[i + 1];
        else if (arguments[i] == "--work")
            g_work = arguments[i + 1];
    }
    if (g_sim.isEmpty() || g_gateway.isEmpty() || g_work.isEmpty()) {
        std::fputs("usage: bench_pjlink --sim PROJECTOR-SIM --gateway KORU-PJLINK --work DIR\n",
                   stderr);
        return 2;
    }
    QDir().mkpath(g_work);
    overhead();
    throughputMemoryAndIdle();
    return 0;
}
