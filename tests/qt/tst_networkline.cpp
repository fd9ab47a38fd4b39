// The serial control on network ports, and the line beneath it, against a real ser2net on
// 127.0.0.1, in front of pseudo-terminals the test plays the projector on.
#include <termios.h>

#include <QtTest>

#include "qt/netline.h"
#include "qt/qtserialcontrol.h"
#include "support/ptypair.h"
#include "support/recordingevents.h"
#include "support/ser2netrig.h"
#include "support/virtualclock.h"

namespace {

bool g_isolated = false;

speed_t lineSpeed(const PtyPair &pty)
{
    // ser2net sets the line through the slave; the master reads the same settings.
    termios attributes{};
    ::tcgetattr(pty.masterFd(), &attributes);
    return ::cfgetospeed(&attributes);
}

}  // namespace

class TestNetworkLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rfc2217CarriesFramesBothWaysAndSetsTheSpeed();
    void boundCountsTheFarLineAndDropsFramesWhole();
    void lineThatGensioTakesPartlyKeepsFramesWholeAndInOrder();
    void plainTelnetPortRejectsTheSettings();
    void lostConnectionClosesOnceAndReconnects();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();

private:
    struct Open {
        explicit Open(const std::string &url, const Clock &clock)
            : comm(DeviceMap{url, "/nonexistent"}, clock)
        {
            comm.setEvents(&events);
            static_cast<void>(comm.setSettings("19200,N,8,1"));
        }
        QtSerialControl comm;
        RecordingEvents events;
    };

    PtyPair m_rfcPty, m_rawPty, m_telnetPty;
    std::unique_ptr<Ser2NetRig> m_rig;
    VirtualClock m_clock;  // the far line's backlog drains only when a test moves it on
};

void TestNetworkLine::initTestCase()
{
    QVERIFY(m_rfcPty.isOpen() && m_rawPty.isOpen() && m_telnetPty.isOpen());
    m_rig = std::make_unique<Ser2NetRig>(std::vector<Ser2NetRig::Connection>{
        {"telnet(rfc2217),tcp", m_rfcPty.slavePath().toStdString()},
        {"tcp", m_rawPty.slavePath().toStdString()},
        {"telnet,tcp", m_telnetPty.slavePath().toStdString()}});
    QVERIFY2(m_rig->start(), qPrintable(QString::fromStdString(m_rig->logPath())));
}

void TestNetworkLine::rfc2217CarriesFramesBothWaysAndSetsTheSpeed()
{
    Open line(m_rig->url(0), m_clock);
    QVERIFY(!line.comm.setPortOpen(true));
    QVERIFY(line.comm.opening());
    QVERIFY(!line.comm.output("dropped\r"));  // while connecting, as a closed port
    QTRY_COMPARE(line.events.openings, 1);
    QCOMPARE(lineSpeed(m_rfcPty), speed_t(B19200));

    // 0xFF is Telnet's IAC: escaped on the way out and unescaped on the way in.
    QVERIFY(line.comm.output("A001CR0\r\xff"));
    QByteArray far;
    QTRY_COMPARE((far += m_rfcPty.readMaster()), QByteArray("A001CR0\r\xff"));
    QVERIFY(m_rfcPty.writeMaster("OK\xff\r"));
    QTRY_COMPARE(line.events.bytes, std::string("OK\xff\r"));

    QVERIFY(line.comm.setSettings("9600,N,8,1"));
    QTRY_COMPARE(lineSpeed(m_rfcPty), speed_t(B9600));
    QVERIFY(line.comm.setSettings("19200,N,8,1"));
    QTRY_COMPARE(lineSpeed(m_rfcPty), speed_t(B19200));
    QVERIFY(line.events.failures.empty());
    QVERIFY(line.comm.portOpen());
}

void TestNetworkLine::boundCountsTheFarLineAndDropsFramesWhole()
{
    // The server takes bytes far faster than its line carries them: at 9600 baud the 512
    // bytes of the bound stand for half a second of line, which the test's clock holds still.
    Open line(m_rig->url(0), m_clock);
    QVERIFY(line.comm.setSettings("9600,N,8,1"));
    QVERIFY(!line.comm.setPortOpen(true));
    QTRY_COMPARE(line.events.openings, 1);
    const std::string frame = "A003CR0\r";  // 8 bytes: 64 fill the bound exactly
    int accepted = 0;
    while (accepted < 100 && line.comm.output(frame))
        ++accepted;
    QCOMPARE(accepted, 64);
    QCOMPARE(line.comm.droppedFrames(), quint64(1));
    m_clock.advance(1000);                               // a second of line: 960 bytes carried
    QTRY_COMPARE(line.comm.pendingOutput(), qint64(0));  // and the server has taken them
    QVERIFY(line.comm.output(frame));

    QByteArray far;
    QTRY_COMPARE((far += m_rfcPty.readMaster()).size(), qsizetype(65 * frame.size()));
    QCOMPARE(far, QByteArray::fromStdString(frame).repeated(65));
}

void TestNetworkLine::lineThatGensioTakesPartlyKeepsFramesWholeAndInOrder()
{
    // Nobody reads the pty, so ser2net stops reading and the socket fills: gensio takes less
    // than it is offered, and the rest waits in the line until the bound refuses frames.
    std::atomic<bool> opened = false;
    NetLine::Events events;
    events.opened = [&](const std::optional<NetError> &error) { opened = !error; };
    NetLine raw(events);
    raw.open({NetAddress::Kind::Tcp, "127.0.0.1", m_rig->port(1)}, 19200);
    QTRY_VERIFY(opened);
    constexpr std::size_t kFrame = 4096, kBound = 64 * 1024;
    auto frame = [](unsigned n) {
        std::string text(kFrame, char('a' + n % 26));
        text.replace(0, 9, QByteArray::number(n).rightJustified(9, '#').toStdString());
        return text;
    };
    unsigned accepted = 0;
    bool stalled = false;
    while (!stalled && accepted < 4096) {
        if (raw.write(frame(accepted), kBound)) {
            ++accepted;
            continue;
        }
        const std::size_t before = raw.pending();
        QVERIFY(before + kFrame > kBound);
        QElapsedTimer waited;
        waited.start();
        while (raw.pending() >= before && waited.elapsed() < 500)
            QTest::qWait(5);
        stalled = raw.pending() >= before;
    }
    QVERIFY(stalled);
    std::string expected;
    for (unsigned n = 0; n < accepted; ++n)
        expected += frame(n);
    QByteArray far;
    QTRY_VERIFY_WITH_TIMEOUT((far += m_rawPty.readMaster()).size() >= qsizetype(expected.size()),
                             20000);
    QVERIFY(far.toStdString() == expected);  // a refused frame left no trace
}

void TestNetworkLine::plainTelnetPortRejectsTheSettings()
{
    Open line(m_rig->url(2), m_clock);
    QVERIFY(!line.comm.setPortOpen(true));
    QTRY_COMPARE(line.events.failures.size(), std::size_t(1));
    QCOMPARE(line.events.failures[0].code, SerialErrorCode::SettingsRejected);
    QVERIFY(line.events.failures[0].description.find("rejected the line settings") !=
            std::string::npos);
    QVERIFY(!line.comm.portOpen());
    QCOMPARE(line.events.openings, 0);
}

void TestNetworkLine::lostConnectionClosesOnceAndReconnects()
{
    Open line(m_rig->url(0), m_clock);
    QVERIFY(!line.comm.setPortOpen(true));
    QTRY_COMPARE(line.events.openings, 1);
    m_rig->stop();
    QTRY_COMPARE(line.events.losses, 1);
    QVERIFY(!line.comm.portOpen());
    QVERIFY(!line.comm.output("A001CR0\r"));

    QVERIFY(m_rig->start());
    QVERIFY(!line.comm.setPortOpen(true));
    QTRY_COMPARE(line.events.openings, 2);
    m_rfcPty.readMaster();
    QVERIFY(line.comm.output("C00\r"));
    QByteArray far;
    QTRY_COMPARE((far += m_rfcPty.readMaster()), QByteArray("C00\r"));
    QCOMPARE(line.events.losses, 1);
}

void TestNetworkLine::failuresNameTheirCause_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("refused") << QString("rfc2217://127.0.0.1:%1").arg(Ser2NetRig::freePort())
                             << int(SerialErrorCode::ConnectionRefused)
                             << "the connection was refused.\nCheck that the serial server";
    QTest::newRow("unknown host") << "tcp://no-such-projector.invalid:4001"
                                  << int(SerialErrorCode::HostNotFound)
                                  << "the host \"no-such-projector.invalid\" was not found";
    // A listener whose accept queue is full drops further connection requests: a real
    // connect time-out that stays on loopback. Its port is filled in below.
    QTest::newRow("no answer") << "" << int(SerialErrorCode::TimedOut)
                               << "no answer within 5 seconds";
    QTest::newRow("not an address") << "tcp://127.0.0.1" << int(SerialErrorCode::BadSettings)
                                    << "Write rfc2217://HOST:PORT or tcp://HOST:PORT";
}

void TestNetworkLine::failuresNameTheirCause()
{
    QFETCH(QString, url);
    QFETCH(int, code);
    QFETCH(QString, says);
    if (code == int(SerialErrorCode::HostNotFound) && !g_isolated)
        QSKIP("name lookups cannot be kept on this machine (no private mount namespace)");
    int listener = -1;
    std::vector<int> fillers;
    if (url.isEmpty()) {
        int port = 0;
        listener = Ser2NetRig::listenOn(0, &port);
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&address), sizeof address);
        }
        url = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    }
    Open line(url.toStdString(), m_clock);
    std::optional<SerialError> error = line.comm.setPortOpen(true);
    if (!error) {
        QTRY_COMPARE_WITH_TIMEOUT(line.events.failures.size(), std::size_t(1), 8000);
        error = line.events.failures[0];
    }
    for (int fd : fillers)
        ::close(fd);
    if (listener >= 0)
        ::close(listener);
    QCOMPARE(int(error->code), code);
    QVERIFY2(error->description.find(says.toStdString()) != std::string::npos,
             error->description.c_str());
    QVERIFY(error->description.find("COM1 (" + url.toStdString() + ")") != std::string::npos);
    QVERIFY(!line.comm.portOpen());
}

int main(int argc, char *argv[])
{
    // Before Qt starts any thread: a namespace is the whole process's.
    g_isolated = Ser2NetRig::isolateNameLookups();
    QCoreApplication app(argc, argv);
    TestNetworkLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_networkline.moc"
