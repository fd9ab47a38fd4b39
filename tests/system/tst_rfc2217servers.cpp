// The network line against three independent RFC 2217 servers from Debian, each started on
// 127.0.0.1 in front of a pseudo-terminal the test plays the projector on: ser2net, the server
// that ships with pyserial (it sends its own Telnet options, WILL COM-PORT-OPTION among them,
// before it answers ours) and sredird (an inetd-style server). And servers that never agree.
#include <termios.h>

#include <QtTest>

#include "qt/netline.h"
#include "support/childserver.h"
#include "support/ptypair.h"
#include "support/recordingnetline.h"
#include "support/ser2netrig.h"

namespace {

speed_t lineSpeed(const PtyPair &pty)
{
    // The server sets the line through the slave; the master reads the same settings.
    termios attributes{};
    ::tcgetattr(pty.masterFd(), &attributes);
    return ::cfgetospeed(&attributes);
}

// One RFC 2217 server in front of the test's pseudo-terminal.
struct Server {
    std::unique_ptr<Ser2NetRig> ser2net;
    ChildServer child;
    int port = Ser2NetRig::freePort();

    bool start(const QString &kind, const PtyPair &pty, const std::string &lockFile)
    {
        const std::string device = pty.slavePath().toStdString();
        if (kind == "ser2net" || kind == "plain telnet") {
            ser2net = std::make_unique<Ser2NetRig>(std::vector<Ser2NetRig::Connection>{
                {kind == "ser2net" ? "telnet(rfc2217),tcp" : "telnet,tcp", device, port}});
            return ser2net->start();
        }
        if (kind == "pyserial")
            return child.start({"/usr/bin/python3", PYSERIAL_RFC2217, std::to_string(port), device},
                               port);
        if (kind == "sredird")
            return child.startInetd({"/usr/sbin/sredird", "5", device, lockFile}, port);
        // A listener that nothing ever accepts from: the kernel completes the handshake, and
        // not one byte comes back.
        if (kind == "silent") {
            m_silent = Ser2NetRig::listenOnPort(port);
            return m_silent >= 0;
        }
        return false;
    }
    ~Server()
    {
        if (m_silent >= 0)
            ::close(m_silent);
    }

private:
    int m_silent = -1;
};

}  // namespace

class TestRfc2217Servers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void eachServerCarriesFramesAndSetsTheSpeed_data();
    void eachServerCarriesFramesAndSetsTheSpeed();
    void serverThatNeverAgreesFailsWithItsReason_data();
    void serverThatNeverAgreesFailsWithItsReason();

private:
    std::string m_lockFile;
};

void TestRfc2217Servers::initTestCase()
{
    char folder[] = "/tmp/koru-rfc2217.XXXXXX";
    QVERIFY(::mkdtemp(folder));
    m_lockFile = std::string(folder) + "/LCK..line";
}

void TestRfc2217Servers::cleanupTestCase()
{
    std::remove(m_lockFile.c_str());
    ::rmdir(m_lockFile.substr(0, m_lockFile.rfind('/')).c_str());
}

void TestRfc2217Servers::eachServerCarriesFramesAndSetsTheSpeed_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("ser2net") << "ser2net";
    QTest::newRow("pyserial") << "pyserial";
    QTest::newRow("sredird") << "sredird";
}

void TestRfc2217Servers::eachServerCarriesFramesAndSetsTheSpeed()
{
    QFETCH(QString, server);
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Server far;
    QVERIFY2(far.start(server, pty, m_lockFile), "the server did not start");

    RecordingNetLine recorder;
    NetLine line(recorder.events());
    line.open({NetAddress::Kind::Rfc2217, "127.0.0.1", far.port}, 19200);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.hasOutcome(), 10000);
    const auto error = recorder.opened();
    QVERIFY2(!error, error ? error->detail.c_str() : "");
    QCOMPARE(lineSpeed(pty), speed_t(B19200));

    QVERIFY(line.write("CR0\r", 512));
    QByteArray arrived;
    QTRY_COMPARE((arrived += pty.readMaster()), QByteArray("CR0\r"));
    QVERIFY(pty.writeMaster("1 20\r"));
    QTRY_COMPARE(recorder.received(), std::string("1 20\r"));

    line.setBaud(9600);
    QTRY_COMPARE(lineSpeed(pty), speed_t(B9600));
    line.setBaud(19200);
    QTRY_COMPARE(lineSpeed(pty), speed_t(B19200));
    QCOMPARE(recorder.rejections(), 0);
}

void TestRfc2217Servers::serverThatNeverAgreesFailsWithItsReason_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("says");
    QTest::newRow("plain telnet") << "plain telnet" << int(NetFailure::SettingsRejected)
                                  << "refused COM-PORT-OPTION";
    QTest::newRow("silent") << "silent" << int(NetFailure::NoAnswer)
                            << "did not answer COM-PORT-OPTION within 1 s";
}

void TestRfc2217Servers::serverThatNeverAgreesFailsWithItsReason()
{
    QFETCH(QString, server);
    QFETCH(int, failure);
    QFETCH(QString, says);
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Server far;
    QVERIFY2(far.start(server, pty, m_lockFile), "the server did not start");

    RecordingNetLine recorder;
    NetLine line(recorder.events());
    line.open({NetAddress::Kind::Rfc2217, "127.0.0.1", far.port}, 19200, std::chrono::seconds(1));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.hasOutcome(), 10000);
    const auto error = recorder.opened();
    QVERIFY(error);
    QCOMPARE(int(error->failure), failure);
    QVERIFY2(error->detail.find(says.toStdString()) != std::string::npos, error->detail.c_str());
}

QTEST_GUILESS_MAIN(TestRfc2217Servers)
#include "tst_rfc2217servers.moc"
