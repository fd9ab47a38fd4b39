// koru-pjlink as a program, against projector-sim's chain on a pseudo-terminal: PJLink clients
// on loopback, the simulator's log for what crossed the line.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>

#include "qt/pjlinkdigest.h"
#include "support/ser2netrig.h"
#include "support/simprocess.h"

namespace {

constexpr int kTimeoutMs = 10000;

using Sim = SimProcess;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// koru-pjlink serving the projectors of one line, each on a port of its own.
class Gateway {
public:
    Gateway(const QString &dir, const QString &line, int projectors, const QString &extra = {})
    {
        QByteArray config;
        for (int i = 0; i < projectors; ++i) {
            ports << freePort();
            config += "[projector]\nline = " + line.toUtf8() + "\naddress = 00" +
                      QByteArray::number(i + 1) +
                      "\nlisten = 127.0.0.1:" + QByteArray::number(ports.back()) +
                      "\ninput 31 = 3\ninput 11 = 1\n" + (i == 0 ? extra.toUtf8() : QByteArray()) +
                      "\n";
        }
        QFile file(dir + "/koru-pjlink.conf");
        file.open(QIODevice::WriteOnly);
        file.write(config);
        file.close();
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { err += process.readAllStandardError(); });
        process.start(QStringLiteral(KORU_PJLINK), {"--config", file.fileName()});
        ready =
            QTest::qWaitFor([&] { return err.count("listening on") == projectors; }, kTimeoutMs);
    }
    ~Gateway()
    {
        process.terminate();
        process.waitForFinished(kTimeoutMs);
    }
    QProcess process;
    QByteArray err;
    QList<quint16> ports;
    bool ready = false;
};

// A PJLink client that waits for each reply.
class Client {
public:
    explicit Client(quint16 port, const QByteArray &password = {})
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        greeting = line();
        if (greeting.startsWith("PJLINK 1 "))
            m_digest = QByteArray::fromStdString(
                pjlinkMd5Hex((greeting.mid(9, 8) + password).toStdString()));
    }
    QByteArray line()
    {
        while (!m_buffer.contains('\r') && (m_socket.state() == QAbstractSocket::ConnectedState ||
                                            m_socket.state() == QAbstractSocket::ConnectingState)) {
            if (!m_socket.waitForReadyRead(kTimeoutMs))
                break;
            m_buffer += m_socket.readAll();
        }
        m_buffer += m_socket.readAll();
        const qsizetype end = m_buffer.indexOf('\r');
        if (end < 0)
            return {};
        const QByteArray taken = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        return taken;
    }
    QByteArray ask(const QByteArray &command)
    {
        m_socket.write(m_digest + command + "\r");
        m_digest.clear();
        return line();
    }
    bool closedByPeer()
    {
        return m_socket.state() == QAbstractSocket::UnconnectedState ||
               m_socket.waitForDisconnected(kTimeoutMs);
    }
    QTcpSocket &socket() { return m_socket; }
    QByteArray greeting;

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QByteArray m_digest;
};

// A client on the event loop sending its commands in turn, intervalMs after each reply.
class Poller : public QObject {
public:
    Poller(quint16 port, QList<QByteArray> commands, int intervalMs)
        : m_commands(std::move(commands)), m_intervalMs(intervalMs)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            m_buffer += m_socket.readAll();
            qsizetype end;
            while ((end = m_buffer.indexOf('\r')) >= 0) {
                const QByteArray reply = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                if (!reply.startsWith("PJLINK"))
                    replies << m_commands[m_next++ % m_commands.size()] + " " + reply;
                QTimer::singleShot(reply.startsWith("PJLINK") ? 0 : m_intervalMs, this,
                                   [this] { send(); });
            }
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void stop() { m_stopped = true; }
    bool idle() const { return m_stopped && !m_waiting; }
    QList<QByteArray> replies;  // "POWR ? %1POWR=1"

private:
    void send()
    {
        m_waiting = !m_stopped;
        if (m_waiting)
            m_socket.write("%1" + m_commands[m_next % m_commands.size()] + "\r");
    }
    QTcpSocket m_socket;
    QList<QByteArray> m_commands;
    int m_intervalMs;
    int m_next = 0;
    bool m_stopped = false;
    bool m_waiting = false;
    QByteArray m_buffer;
};

QString lockFileOf(const QString &device)
{
    return QStringLiteral("/run/lock/LCK..") +
           QString(device).remove(QStringLiteral("/dev/")).replace(QLatin1Char('/'), '_');
}

}  // namespace

class TestPjlinkProgram : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clientsOfAChainShouldEachGetTheirOwnProjectorsReplies_data();
    void clientsOfAChainShouldEachGetTheirOwnProjectorsReplies();
    void wrongPasswordShouldGetErraAndTheRightOneAnswers();
    void silentProjectorShouldAnswerErr4();
    void hostileClientsShouldLeaveTheOthersServed();
    void endSignalDuringATransactionShouldReleaseThePort();
    void malformedConfigurationShouldBeRefusedWithItsLine();
    void npmPjlinkClientShouldControlTheProjector();
    void chainBehindSer2netShouldAnswerAndComeBackAfterTheLineIsLost();

private:
    QTemporaryDir m_dir;
};

void TestPjlinkProgram::clientsOfAChainShouldEachGetTheirOwnProjectorsReplies_data()
{
    QTest::addColumn<bool>("throughSer2net");
    QTest::newRow("pseudo-terminal") << false;
    QTest::newRow("ser2net, rfc2217") << true;
}

void TestPjlinkProgram::clientsOfAChainShouldEachGetTheirOwnProjectorsReplies()
{
    // Four projectors: 001 held on and 002 in standby, while other clients switch 003 and 004
    // on and off and change their inputs; 16 clients poll POWR and LAMP every 100 ms.
    QFETCH(bool, throughSer2net);
    // Through ser2net the simulator keeps to the line's speed, as a projector does; on the
    // pseudo-terminal it answers at once, faster than the line it stands for, so each frame
    // waits for room in the output buffer, which counts what that line would still carry.
    QStringList options{"--chain", "4", "--countdown", "300", "--cooling", "300"};
    if (throughSer2net)
        options << "--pace";
    Sim sim(m_dir.filePath(throughSer2net ? "busy-ser2net.log" : "busy.log"), options);
    QString line = sim.waitPath();
    std::unique_ptr<Ser2NetRig> ser2net;
    if (throughSer2net) {
        ser2net = std::make_unique<Ser2NetRig>(
            std::vector<Ser2NetRig::Connection>{{"telnet(rfc2217),tcp", line.toStdString()}});
        QVERIFY(ser2net->start());
        line = QString::fromStdString(ser2net->url(0));
    }
    Gateway gateway(m_dir.path(), line, 4);
    QVERIFY2(gateway.ready, gateway.err.constData());
    {
        Client first(gateway.ports[0]);
        QCOMPARE(first.ask("%1POWR 1"), QByteArray("%1POWR=OK"));
        QTRY_COMPARE_WITH_TIMEOUT(first.ask("%1POWR ?"), QByteArray("%1POWR=1"), kTimeoutMs);
    }
    std::vector<std::unique_ptr<Poller>> pollers;
    for (int i = 0; i < 16; ++i)
        pollers.push_back(std::make_unique<Poller>(gateway.ports[i % 4],
                                                   QList<QByteArray>{"POWR ?", "LAMP ?"}, 100));
    for (int i = 2; i < 4; ++i)
        pollers.push_back(std::make_unique<Poller>(
            gateway.ports[i], QList<QByteArray>{"POWR 1", "INPT 31", "POWR 0", "INPT 11"}, 250));
    QTest::qWait(10000);
    for (const auto &poller : pollers)
        poller->stop();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(pollers.begin(), pollers.end(), [](const auto &p) { return p->idle(); }),
        kTimeoutMs);
    static const QRegularExpression lamp(QStringLiteral("^LAMP \\? %1LAMP=\\d+ ([01])$"));
    for (int i = 0; i < 16; ++i) {
        const QList<QByteArray> &replies = pollers[i]->replies;
        QVERIFY2(replies.size() > 20, qPrintable(QString::number(replies.size())));
        for (const QByteArray &reply : replies) {
            const QString text = QString::fromLatin1(reply);
            if (i % 4 == 0)
                QVERIFY2(text == "POWR ? %1POWR=1" || lamp.match(text).captured(1) == "1",
                         qPrintable(text));
            else if (i % 4 == 1)
                QVERIFY2(text == "POWR ? %1POWR=0" || lamp.match(text).captured(1) == "0",
                         qPrintable(text));
            else
                QVERIFY2(QRegularExpression("^POWR \\? %1POWR=[0-3]$").match(text).hasMatch() ||
                             lamp.match(text).hasMatch(),
                         qPrintable(text));
        }
    }
    for (int i = 16; i < 18; ++i) {
        for (const QByteArray &reply : pollers[i]->replies)
            QVERIFY2(reply.endsWith("=OK") || reply.endsWith("=ERR3"), reply.constData());
    }
    // On the line each frame is followed by its reply before the next frame.
    const QStringList traffic = sim.traffic();
    QVERIFY(traffic.size() > 1000);
    for (qsizetype i = 0; i + 1 < traffic.size(); i += 2) {
        QVERIFY2(traffic[i].startsWith("RX ") && traffic[i + 1].startsWith("TX "),
                 qPrintable(traffic[i] + " / " + traffic[i + 1]));
    }
}

void TestPjlinkProgram::wrongPasswordShouldGetErraAndTheRightOneAnswers()
{
    Sim sim(m_dir.filePath("password.log"), {});
    Gateway gateway(m_dir.path(), sim.waitPath(), 1, "password = Hall1Secret\n");
    QVERIFY2(gateway.ready, gateway.err.constData());
    Client right(gateway.ports[0], "Hall1Secret");
    QVERIFY(right.greeting.startsWith("PJLINK 1 "));
    QCOMPARE(right.ask("%1POWR ?"), QByteArray("%1POWR=0"));
    Client wrong(gateway.ports[0], "Hall1Secreu");
    QVERIFY(wrong.greeting != right.greeting);
    QCOMPARE(wrong.ask("%1POWR ?"), QByteArray("PJLINK ERRA"));
    QVERIFY(wrong.closedByPeer());
}

void TestPjlinkProgram::silentProjectorShouldAnswerErr4()
{
    Sim sim(m_dir.filePath("silent.log"), {"--silent"});
    Gateway gateway(m_dir.path(), sim.waitPath(), 1);
    QVERIFY2(gateway.ready, gateway.err.constData());
    Client client(gateway.ports[0]);
    QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
    QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=ERR4"));
}

void TestPjlinkProgram::hostileClientsShouldLeaveTheOthersServed()
{
    Sim sim(m_dir.filePath("hostile.log"), {});
    Gateway gateway(m_dir.path(), sim.waitPath(), 1);
    QVERIFY2(gateway.ready, gateway.err.constData());
    Client garbage(gateway.ports[0]);
    garbage.socket().write("\x16\x03\x01 hello\r");
    QVERIFY(garbage.closedByPeer());
    Client flood(gateway.ports[0]);
    flood.socket().write(QByteArray(1 << 20, 'A'));
    QVERIFY(flood.closedByPeer());
    {
        // Clients that hold their connections open take at most the endpoint's 64 (fewer while
        // the gateway has yet to see the ends of those before them).
        std::vector<std::unique_ptr<Client>> held;
        int greeted = 0;
        for (int i = 0; i < 70; ++i) {
            held.push_back(std::make_unique<Client>(gateway.ports[0]));
            greeted += held.back()->greeting == "PJLINK 0";
        }
        QVERIFY2(greeted >= 60 && greeted <= 64, qPrintable(QString::number(greeted)));
        QVERIFY(held.back()->greeting.isEmpty() && held.back()->closedByPeer());
    }
    for (int i = 0; i < 1000; ++i) {
        QTcpSocket dropped;
        dropped.connectToHost(QHostAddress::LocalHost, gateway.ports[0]);
        QVERIFY(dropped.waitForConnected(kTimeoutMs));
        if (i % 2)
            dropped.write("%1POWR ?\r");
        dropped.waitForBytesWritten(kTimeoutMs);
        dropped.abort();
    }
    // Served once the gateway has seen the others go.
    QTRY_COMPARE_WITH_TIMEOUT(Client(gateway.ports[0]).ask("%1POWR ?"), QByteArray("%1POWR=0"),
                              kTimeoutMs);
}

void TestPjlinkProgram::endSignalDuringATransactionShouldReleaseThePort()
{
    Sim sim(m_dir.filePath("term.log"), {"--delay", "3000"});
    const QString path = sim.waitPath();
    Gateway gateway(m_dir.path(), path, 1);
    QVERIFY2(gateway.ready, gateway.err.constData());
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, gateway.ports[0]);
    QVERIFY(client.waitForReadyRead(kTimeoutMs));
    client.write("%1POWR ?\r");
    QTRY_VERIFY_WITH_TIMEOUT(sim.traffic().contains("RX A001 CR0"), kTimeoutMs);
    QVERIFY(QFile::exists(lockFileOf(path)));
    QCOMPARE(::kill(static_cast<pid_t>(gateway.process.processId()), SIGTERM), 0);
    QVERIFY(gateway.process.waitForFinished(kTimeoutMs));
    QCOMPARE(gateway.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gateway.process.exitCode(), 143);
    QVERIFY(!QFile::exists(lockFileOf(path)));
}

void TestPjlinkProgram::malformedConfigurationShouldBeRefusedWithItsLine()
{
    const QString path = m_dir.filePath("bad.conf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[projector]\nline = /dev/null\nspeed = 4800\n");
    file.close();
    QProcess process;
    process.start(QStringLiteral(KORU_PJLINK), {"--config", path});
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             "koru-pjlink: " + path.toUtf8() + ":3: speed is 19200 or 9600, not 4800\n");
    // A password file is held to the configuration's rule, spaces and all.
    const QString passwordPath = m_dir.filePath("password");
    QFile password(passwordPath);
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write(" Hall1Secret \n");
    password.close();
    process.start(QStringLiteral(KORU_PJLINK),
                  {"--line", "/dev/null", "--password-file", passwordPath});
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             "koru-pjlink: " + passwordPath.toUtf8() +
                 ": the first line's password is 1 to 32 visible characters, no spaces\n");
}

// The npm package pjlink, which scripts/setup.sh installs into tests/pjlink-client.
void TestPjlinkProgram::npmPjlinkClientShouldControlTheProjector()
{
    const QString client = QStringLiteral(PJLINK_CLIENT_DIR);
    QVERIFY2(QFile::exists(client + "/node_modules/pjlink/package.json"),
             "the npm package pjlink is not installed: run scripts/setup.sh");
    Sim sim(m_dir.filePath("npm.log"),
            {"--countdown", "300", "--cooling", "300", "--signal", "13"});
    Gateway gateway(m_dir.path(), sim.waitPath(), 1,
                    "password = Hall1Secret\nname = Hall A\ninfo = Room 1\n");
    QVERIFY2(gateway.ready, gateway.err.constData());
    const auto run = [&](const QString &password, const QString &scenario) {
        QProcess node;
        node.setWorkingDirectory(client);
        node.start(QStringLiteral("node"),
                   {"check.js", QString::number(gateway.ports[0]), password, scenario});
        node.waitForFinished(60000);
        return QString::fromUtf8(node.readAllStandardOutput() + node.readAllStandardError());
    };
    QCOMPARE(run("Hall1Secret", "all"),
             QStringLiteral("power: [0]\n"
                            "power on: []\n"
                            "power after count down: [1]\n"
                            "input set: []\n"
                            "input: [{\"source\":3,\"channel\":1,\"code\":\"31\","
                            "\"name\":\"DIGITAL - 1\"}]\n"
                            "input not mapped: error: Out of parameter\n"
                            "mute set: []\n"
                            "mute: [{\"audio\":true,\"video\":true}]\n"
                            "mute off: []\n"
                            "mute after: [{\"audio\":false,\"video\":false}]\n"
                            "sound mute: []\n"
                            "mute at last: [{\"audio\":true,\"video\":false}]\n"
                            "lamps: [[{\"hours\":1234,\"on\":true}]]\n"
                            "errors: [null]\n"
                            "inputs: [[{\"source\":1,\"channel\":1,\"code\":\"11\","
                            "\"name\":\"RGB - 1\"},{\"source\":3,\"channel\":1,"
                            "\"code\":\"31\",\"name\":\"DIGITAL - 1\"}]]\n"
                            "name: [\"Hall\",\"A\"]\n"
                            "info: [\"Room\",\"1\"]\n"
                            "class: [\"1\"]\n"
                            "power off: []\n"
                            "power after off: [2]\n"));
    QCOMPARE(run("Hall1Secreu", "password"),
             QStringLiteral("power: error: Authorization failed\n"));
}

void TestPjlinkProgram::chainBehindSer2netShouldAnswerAndComeBackAfterTheLineIsLost()
{
    Sim sim(m_dir.filePath("ser2net.log"), {"--chain", "4", "--countdown", "0"});
    Ser2NetRig ser2net({{"telnet(rfc2217),tcp", sim.waitPath().toStdString()}});
    QVERIFY(ser2net.start());
    Gateway gateway(m_dir.path(), QString::fromStdString(ser2net.url(0)), 4);
    QVERIFY2(gateway.ready, gateway.err.constData());
    Client third(gateway.ports[2]);
    QTRY_COMPARE_WITH_TIMEOUT(third.ask("%1POWR 1"), QByteArray("%1POWR=OK"), kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(third.ask("%1POWR ?"), QByteArray("%1POWR=1"), kTimeoutMs);
    for (int i : {0, 1, 3}) {
        Client other(gateway.ports[i]);
        QCOMPARE(other.ask("%1POWR ?"), QByteArray("%1POWR=0"));
    }
    ser2net.stop();
    QCOMPARE(third.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
    QVERIFY(ser2net.start());
    QTRY_COMPARE_WITH_TIMEOUT(third.ask("%1POWR ?"), QByteArray("%1POWR=1"), kTimeoutMs);
    QVERIFY(gateway.err.contains("the line was lost"));
}

QTEST_MAIN(TestPjlinkProgram)
#include "tst_pjlinkprogram.moc"
