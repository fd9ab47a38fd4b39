// The PJLink session on virtual time, against a scripted projector on a fake line: every
// command's frames and reply, authentication with the library's MD5, what a hostile client
// sends, the idle close, and many clients of one line taking turns.
#include <QTest>
#include <map>

#include "core/pjlink/pjlinksession.h"
#include "core/pjlink/transactionqueue.h"
#include "qt/pjlinkdigest.h"
#include "support/bytes.h"
#include "support/fakeserialcontrol.h"
#include "support/virtualclock.h"

namespace {

constexpr int kTimeoutMs = 500;
constexpr int kReplyDelayMs = 20;

// The projectors' side: each frame is answered kReplyDelayMs later with its scripted reply
// (ACK for "ACK", NAK for "NAK", else the text and a carriage return); a frame with no script
// is met with silence.
class ScriptedLine {
public:
    ScriptedLine(VirtualClock &clock, FakeSerialControl &port) : m_clock(clock), m_port(port)
    {
        m_port.onOutput = [this](std::string_view frame) {
            if (m_due)
                interleaved = true;
            frames << qb(frame).chopped(1);
            const auto found = script.find(std::string(frame.substr(0, frame.size() - 1)));
            if (found == script.end())
                return;
            std::string reply = found->second == "ACK"   ? "\x06"
                                : found->second == "NAK" ? "\x15"
                                                         : found->second;
            m_due = {m_clock.nowMs() + kReplyDelayMs, reply + "\r"};
        };
    }
    void run(std::int64_t ms)
    {
        const std::int64_t until = m_clock.nowMs() + ms;
        while (m_clock.nowMs() < until) {
            if (m_due && m_due->first <= m_clock.nowMs()) {
                const std::string bytes = m_due->second;
                m_due.reset();
                m_port.receive(bytes);
            }
            m_clock.advance(1);
        }
    }

    std::map<std::string, std::string> script;  // frame without CR -> reply
    QStringList frames;                         // every frame, without its CR
    bool interleaved = false;                   // a frame went out before the last reply came

private:
    VirtualClock &m_clock;
    FakeSerialControl &m_port;
    std::optional<std::pair<std::int64_t, std::string>> m_due;
};

struct Client {
    Client(const PjlinkProjector &projector, TransactionQueue &queue, VirtualClock &clock,
           const PjlinkAuthentication &authentication)
        : session(projector, queue, clock, authentication,
                  {[this](std::string_view bytes) { out += qb(bytes); }, [this] { closed = true; }})
    {
        session.start();
    }
    void send(const QByteArray &bytes)
    {
        session.received({bytes.constData(), size_t(bytes.size())});
    }

    QByteArray out;
    bool closed = false;
    PjlinkSession session;
};

PjlinkProjector projector(std::string idPrefix = "")
{
    return {std::move(idPrefix), "", "Hall A", "", "", "", {{"11", 1}, {"31", 3}, {"32", 3}}};
}

struct Rig {
    Rig() { port.openPort(); }
    VirtualClock clock;
    FakeSerialControl port;
    ScriptedLine far{clock, port};
    LineTransactions line{port, clock, kTimeoutMs};
    TransactionQueue queue{&line};
    PjlinkAuthentication authentication{[] { return 0x498e4a67u; }, pjlinkMd5Hex};
};

}  // namespace

class TestPjlinkSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandsShouldAnswerAsThePjlinkStandardWrites_data();
    void commandsShouldAnswerAsThePjlinkStandardWrites();
    void authenticationShouldCheckTheDigestAndRefuseWithErra_data();
    void authenticationShouldCheckTheDigestAndRefuseWithErra();
    void hostileInputShouldBeAnsweredOrClosedWithinBounds_data();
    void hostileInputShouldBeAnsweredOrClosedWithinBounds();
    void idleConnectionShouldCloseAfter30sWithoutACommand();
    void clientsOfOneLineShouldTakeTurnsAndGetTheirOwnReplies();
    void lostLineShouldAnswerErr4UntilALineIsBack();
};

void TestPjlinkSession::commandsShouldAnswerAsThePjlinkStandardWrites_data()
{
    // script: "FRAME=REPLY" for the projector's side; frames: what went out, in order.
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("frames");
    using L = QStringList;
    // POWR ?: every STATUS reply.
    const std::pair<const char *, const char *> powers[] = {
        {"00", "1"}, {"80", "0"}, {"40", "3"}, {"20", "2"}, {"10", "0"}, {"08", "1"},
        {"28", "2"}, {"88", "0"}, {"02", "1"}, {"24", "2"}, {"04", "0"}};
    for (const auto &[status, power] : powers) {
        QTest::addRow("POWR ? status %s", status)
            << QByteArray("%1POWR ?\r") << L{QString("CR0=") + status}
            << QByteArray("%1POWR=") + power + "\r" << L{"CR0"};
    }
    QTest::newRow("POWR 1") << QByteArray("%1POWR 1\r") << L{"C00=ACK"} << QByteArray("%1POWR=OK\r")
                            << L{"C00"};
    QTest::newRow("POWR 0") << QByteArray("%1POWR 0\r") << L{"C01=ACK"} << QByteArray("%1POWR=OK\r")
                            << L{"C01"};
    QTest::newRow("POWR 1 refused")
        << QByteArray("%1POWR 1\r") << L{"C00=NAK"} << QByteArray("%1POWR=ERR3\r") << L{"C00"};
    QTest::newRow("POWR 1 silent")
        << QByteArray("%1POWR 1\r") << L{} << QByteArray("%1POWR=ERR4\r") << L{"C00"};
    QTest::newRow("POWR 1 not ACK")
        << QByteArray("%1POWR 1\r") << L{"C00=00"} << QByteArray("%1POWR=ERR4\r") << L{"C00"};
    QTest::newRow("POWR ? garbled")
        << QByteArray("%1POWR ?\r") << L{"CR0=0"} << QByteArray("%1POWR=ERR4\r") << L{"CR0"};
    QTest::newRow("POWR 2") << QByteArray("%1POWR 2\r") << L{} << QByteArray("%1POWR=ERR2\r")
                            << L{};
    QTest::newRow("POWR no parameter")
        << QByteArray("%1POWR\r") << L{} << QByteArray("%1POWR=ERR2\r") << L{};
    QTest::newRow("INPT 32") << QByteArray("%1INPT 32\r") << L{"C07=ACK"}
                             << QByteArray("%1INPT=OK\r") << L{"C07"};
    QTest::newRow("INPT 11") << QByteArray("%1INPT 11\r") << L{"C05=ACK"}
                             << QByteArray("%1INPT=OK\r") << L{"C05"};
    QTest::newRow("INPT unmapped")
        << QByteArray("%1INPT 21\r") << L{} << QByteArray("%1INPT=ERR2\r") << L{};
    QTest::newRow("INPT ? 3") << QByteArray("%1INPT ?\r") << L{"CR1=3"} << QByteArray("%1INPT=31\r")
                              << L{"CR1"};
    QTest::newRow("INPT ? unmapped")
        << QByteArray("%1INPT ?\r") << L{"CR1=2"} << QByteArray("%1INPT=ERR3\r") << L{"CR1"};
    QTest::newRow("INPT ? refused")
        << QByteArray("%1INPT ?\r") << L{"CR1=NAK"} << QByteArray("%1INPT=ERR3\r") << L{"CR1"};
    QTest::newRow("AVMT 11") << QByteArray("%1AVMT 11\r") << L{"C0D=ACK"}
                             << QByteArray("%1AVMT=OK\r") << L{"C0D"};
    QTest::newRow("AVMT 10") << QByteArray("%1AVMT 10\r") << L{"C0E=ACK"}
                             << QByteArray("%1AVMT=OK\r") << L{"C0E"};
    QTest::newRow("AVMT 21") << QByteArray("%1AVMT 21\r") << L{"C0B=ACK"}
                             << QByteArray("%1AVMT=OK\r") << L{"C0B"};
    QTest::newRow("AVMT 20") << QByteArray("%1AVMT 20\r") << L{"C0C=ACK"}
                             << QByteArray("%1AVMT=OK\r") << L{"C0C"};
    QTest::newRow("AVMT 31") << QByteArray("%1AVMT 31\r") << L{"C0D=ACK", "C0B=ACK"}
                             << QByteArray("%1AVMT=OK\r") << L{"C0D", "C0B"};
    QTest::newRow("AVMT 30 half refused") << QByteArray("%1AVMT 30\r") << L{"C0E=ACK", "C0C=NAK"}
                                          << QByteArray("%1AVMT=ERR3\r") << L{"C0E", "C0C"};
    QTest::newRow("AVMT 12") << QByteArray("%1AVMT 12\r") << L{} << QByteArray("%1AVMT=ERR2\r")
                             << L{};
    const std::pair<const char *, const char *> mutes[] = {
        {"00", "30"}, {"01", "11"}, {"02", "21"}, {"03", "31"}, {"80", "ERR3"}, {"FF", "ERR3"}};
    for (const auto &[status2, avmt] : mutes) {
        QTest::addRow("AVMT ? status-2 %s", status2)
            << QByteArray("%1AVMT ?\r") << L{QString("CRA=") + status2}
            << QByteArray("%1AVMT=") + avmt + "\r" << L{"CRA"};
    }
    QTest::newRow("ERST ? fine") << QByteArray("%1ERST ?\r") << L{"CR0=00"}
                                 << QByteArray("%1ERST=000000\r") << L{"CR0"};
    QTest::newRow("ERST ? temperature")
        << QByteArray("%1ERST ?\r") << L{"CR0=88"} << QByteArray("%1ERST=002000\r") << L{"CR0"};
    QTest::newRow("ERST ? power") << QByteArray("%1ERST ?\r") << L{"CR0=10"}
                                  << QByteArray("%1ERST=000002\r") << L{"CR0"};
    QTest::newRow("LAMP ? lit") << QByteArray("%1LAMP ?\r") << L{"CR3=01234", "CR7=03", "CR0=00"}
                                << QByteArray("%1LAMP=1234 1\r") << L{"CR3", "CR7", "CR0"};
    QTest::newRow("LAMP ? all lamps off")
        << QByteArray("%1LAMP ?\r") << L{"CR3=01234", "CR7=10", "CR0=00"}
        << QByteArray("%1LAMP=1234 0\r") << L{"CR3", "CR7", "CR0"};
    QTest::newRow("LAMP ? cooling") << QByteArray("%1LAMP ?\r") << L{"CR3=77", "CR7=01", "CR0=20"}
                                    << QByteArray("%1LAMP=77 0\r") << L{"CR3", "CR7", "CR0"};
    QTest::newRow("LAMP ? new, warming up")
        << QByteArray("%1LAMP ?\r") << L{"CR3=00000", "CR7=22", "CR0=40"}
        << QByteArray("%1LAMP=0 1\r") << L{"CR3", "CR7", "CR0"};
    QTest::newRow("LAMP ? past 99999")
        << QByteArray("%1LAMP ?\r") << L{"CR3=123456", "CR7=00", "CR0=80"}
        << QByteArray("%1LAMP=99999 0\r") << L{"CR3", "CR7", "CR0"};
    QTest::newRow("LAMP ? silent midway")
        << QByteArray("%1LAMP ?\r") << L{"CR3=5"} << QByteArray("%1LAMP=ERR4\r") << L{"CR3", "CR7"};
    QTest::newRow("INST ?") << QByteArray("%1INST ?\r") << L{} << QByteArray("%1INST=11 31 32\r")
                            << L{};
    QTest::newRow("NAME ?") << QByteArray("%1NAME ?\r") << L{} << QByteArray("%1NAME=Hall A\r")
                            << L{};
    QTest::newRow("INF1 ? empty") << QByteArray("%1INF1 ?\r") << L{} << QByteArray("%1INF1=\r")
                                  << L{};
    QTest::newRow("INF2 ? empty") << QByteArray("%1INF2 ?\r") << L{} << QByteArray("%1INF2=\r")
                                  << L{};
    QTest::newRow("INFO ? empty") << QByteArray("%1INFO ?\r") << L{} << QByteArray("%1INFO=\r")
                                  << L{};
    QTest::newRow("CLSS ?") << QByteArray("%1CLSS ?\r") << L{} << QByteArray("%1CLSS=1\r") << L{};
    QTest::newRow("NAME set") << QByteArray("%1NAME x\r") << L{} << QByteArray("%1NAME=ERR2\r")
                              << L{};
    QTest::newRow("NAME control byte")
        << QByteArray("%1NAME \x01\r") << L{} << QByteArray("%1NAME=ERR2\r") << L{};
    QTest::newRow("undefined") << QByteArray("%1ABCD ?\r") << L{} << QByteArray("%1ABCD=ERR1\r")
                               << L{};
    QTest::newRow("lower case") << QByteArray("%1powr ?\r") << L{} << QByteArray("%1powr=ERR1\r")
                                << L{};
    QTest::newRow("class 2") << QByteArray("%2POWR ?\r") << L{} << QByteArray("%2POWR=ERR1\r")
                             << L{};
    QTest::newRow("CR LF") << QByteArray("%1CLSS ?\r\n%1CLSS ?\r\n") << L{}
                           << QByteArray("%1CLSS=1\r%1CLSS=1\r") << L{};
    QTest::newRow("in pieces") << QByteArray("%1CL|SS ?|\r") << L{} << QByteArray("%1CLSS=1\r")
                               << L{};
}

void TestPjlinkSession::commandsShouldAnswerAsThePjlinkStandardWrites()
{
    QFETCH(QByteArray, command);
    QFETCH(QStringList, script);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, frames);
    Rig rig;
    for (const QString &row : script)
        rig.far.script[row.section('=', 0, 0).toStdString()] = row.section('=', 1).toStdString();
    const PjlinkProjector config = projector();
    Client client(config, rig.queue, rig.clock, rig.authentication);
    QCOMPARE(client.out, QByteArray("PJLINK 0\r"));
    client.out.clear();
    for (const QByteArray &piece : command.split('|'))
        client.send(piece);
    rig.far.run(4 * (kTimeoutMs + LineTransactions::kQuietGapMs));
    QCOMPARE(client.out, reply);
    QCOMPARE(rig.far.frames, frames);
    QVERIFY(!client.closed);
}

void TestPjlinkSession::authenticationShouldCheckTheDigestAndRefuseWithErra_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<bool>("closed");
    // The PJLink standard's own example: random 498e4a67, this password, this digest.
    const QByteArray digest = "5d8409bc1c3fa39749434aa3a5c38682";
    const QByteArray greeting = "PJLINK 1 498e4a67\r";
    QTest::newRow("standard's example") << QByteArray("JBMIAProjectorLink") << digest + "%1CLSS ?\r"
                                        << greeting + "%1CLSS=1\r" << false;
    QTest::newRow("then without digest")
        << QByteArray("JBMIAProjectorLink") << digest + "%1CLSS ?\r%1NAME ?\r"
        << greeting + "%1CLSS=1\r%1NAME=Hall A\r" << false;
    QTest::newRow("then with it again")
        << QByteArray("JBMIAProjectorLink") << digest + "%1CLSS ?\r" + digest + "%1CLSS ?\r"
        << greeting + "%1CLSS=1\r%1CLSS=1\r" << false;
    QTest::newRow("then a wrong one")
        << QByteArray("JBMIAProjectorLink")
        << digest + "%1CLSS ?\r" + "5d8409bc1c3fa39749434aa3a5c38683%1CLSS ?\r%1CLSS ?\r"
        << greeting + "%1CLSS=1\rPJLINK ERRA\r" << true;
    QTest::newRow("other password") << QByteArray("JBMIAProjectorLinl") << digest + "%1CLSS ?\r"
                                    << greeting + "PJLINK ERRA\r" << true;
    QTest::newRow("upper case digest")
        << QByteArray("JBMIAProjectorLink") << digest.toUpper() + "%1CLSS ?\r"
        << greeting + "PJLINK ERRA\r" << true;
    QTest::newRow("no digest") << QByteArray("JBMIAProjectorLink") << QByteArray("%1CLSS ?\r")
                               << greeting + "PJLINK ERRA\r" << true;
    QTest::newRow("short digest") << QByteArray("JBMIAProjectorLink") << digest.left(31) + "\r"
                                  << greeting + "PJLINK ERRA\r" << true;
    QTest::newRow("no password") << QByteArray() << digest + "%1CLSS ?\r"
                                 << QByteArray("PJLINK 0\r") << true;
}

void TestPjlinkSession::authenticationShouldCheckTheDigestAndRefuseWithErra()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, out);
    QFETCH(bool, closed);
    Rig rig;
    PjlinkProjector config = projector();
    config.password = password.toStdString();
    Client client(config, rig.queue, rig.clock, rig.authentication);
    client.send(lines);
    QCOMPARE(client.out, out);
    QCOMPARE(client.closed, closed);
}

void TestPjlinkSession::hostileInputShouldBeAnsweredOrClosedWithinBounds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<bool>("closed");
    QTest::newRow("not PJLink") << QByteArray("GET / HTTP/1.0\r") << QByteArray() << true;
    QTest::newRow("no class") << QByteArray("%\r") << QByteArray() << true;
    QTest::newRow("control byte in name") << QByteArray("%1PO\x01R ?\r") << QByteArray() << true;
    QTest::newRow("high byte in name") << QByteArray("%1PO\xffR ?\r") << QByteArray() << true;
    QTest::newRow("NUL") << QByteArray("%1\0\0\0\0 ?\r", 9) << QByteArray() << true;
    QTest::newRow("empty lines") << QByteArray("\r\r\n\r") << QByteArray() << false;
    QTest::newRow("longest line") << "%1NAME " + QByteArray(128, '?') + "\r"
                                  << QByteArray("%1NAME=ERR2\r") << false;
    QTest::newRow("a byte too long")
        << "%1NAME " + QByteArray(129, '?') + "\r" << QByteArray() << true;
    QTest::newRow("a megabyte, no CR") << QByteArray(1 << 20, 'A') << QByteArray() << true;
    QTest::newRow("eight ahead") << QByteArray("%1POWR ?\r").repeated(8) << QByteArray() << false;
    QTest::newRow("nine ahead") << QByteArray("%1POWR ?\r").repeated(9) << QByteArray() << true;
}

void TestPjlinkSession::hostileInputShouldBeAnsweredOrClosedWithinBounds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, out);
    QFETCH(bool, closed);
    Rig rig;
    const PjlinkProjector config = projector();
    Client client(config, rig.queue, rig.clock, rig.authentication);
    client.out.clear();
    client.send(bytes);
    QCOMPARE(client.out, out);
    QCOMPARE(client.closed, closed);
    // A closed session sends nothing more, and its queued frames never go out.
    if (closed) {
        rig.far.run(5000);
        QCOMPARE(client.out, out);
        QVERIFY(rig.far.frames.size() <= 1);
    }
}

void TestPjlinkSession::idleConnectionShouldCloseAfter30sWithoutACommand()
{
    Rig rig;
    const PjlinkProjector config = projector();
    Client silent(config, rig.queue, rig.clock, rig.authentication);
    Client halfLine(config, rig.queue, rig.clock, rig.authentication);
    Client talking(config, rig.queue, rig.clock, rig.authentication);
    rig.clock.advance(10000);
    halfLine.send("%1CL");
    rig.clock.advance(10000);
    talking.send("%1CLSS ?\r");
    halfLine.send("SS");
    rig.clock.advance(9999);
    QVERIFY(!silent.closed && !halfLine.closed && !talking.closed);
    rig.clock.advance(1);
    QVERIFY(silent.closed && halfLine.closed);
    QVERIFY(!talking.closed);
    rig.clock.advance(19999);
    QVERIFY(!talking.closed);
    rig.clock.advance(1);
    QVERIFY(talking.closed);
}

void TestPjlinkSession::clientsOfOneLineShouldTakeTurnsAndGetTheirOwnReplies()
{
    // Two projectors of a chain, one on, one in standby, three clients each; one client leaves
    // with its command still waiting for the line.
    Rig rig;
    rig.far.script = {{"A001CR0", "00"}, {"A002CR0", "80"}, {"A002C00", "ACK"}};
    const PjlinkProjector first = projector("A001");
    const PjlinkProjector second = projector("A002");
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<Client>(i % 2 ? second : first, rig.queue, rig.clock,
                                                   rig.authentication));
        clients.back()->out.clear();
    }
    for (int i = 0; i < 6; ++i)
        clients[i]->send(i == 5 ? "%1POWR 1\r%1POWR ?\r" : "%1POWR ?\r");
    clients[4].reset();
    rig.far.run(1000);
    QCOMPARE(clients[0]->out, QByteArray("%1POWR=1\r"));
    QCOMPARE(clients[1]->out, QByteArray("%1POWR=0\r"));
    QCOMPARE(clients[2]->out, QByteArray("%1POWR=1\r"));
    QCOMPARE(clients[3]->out, QByteArray("%1POWR=0\r"));
    QCOMPARE(clients[5]->out, QByteArray("%1POWR=OK\r%1POWR=0\r"));
    QCOMPARE(rig.far.frames,
             (QStringList{"A001CR0", "A002CR0", "A001CR0", "A002CR0", "A002C00", "A002CR0"}));
    QVERIFY(!rig.far.interleaved);
}

void TestPjlinkSession::lostLineShouldAnswerErr4UntilALineIsBack()
{
    Rig rig;
    rig.far.script = {{"CR0", "00"}};
    const PjlinkProjector config = projector();
    Client client(config, rig.queue, rig.clock, rig.authentication);
    client.out.clear();
    client.send("%1POWR ?\r");
    rig.port.loseLine();
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r"));
    client.send("%1POWR ?\r");
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r%1POWR=ERR4\r"));
    // The line comes back as a new port and its transactions.
    FakeSerialControl reopened;
    reopened.openPort();
    ScriptedLine far(rig.clock, reopened);
    far.script = {{"CR0", "80"}};
    LineTransactions line(reopened, rig.clock, kTimeoutMs);
    client.out.clear();
    rig.queue.setLine(nullptr);
    client.send("%1POWR ?\r");
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r"));
    rig.queue.setLine(&line);
    client.send("%1POWR ?\r");
    far.run(100);
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r%1POWR=0\r"));
    // A request still on a line when it is replaced ends ERR4, and the next goes on the new.
    FakeSerialControl third;
    third.openPort();
    ScriptedLine thirdFar(rig.clock, third);
    thirdFar.script = {{"CR0", "00"}};
    LineTransactions thirdLine(third, rig.clock, kTimeoutMs);
    client.out.clear();
    client.send("%1POWR ?\r%1POWR ?\r");
    rig.queue.setLine(&thirdLine);
    thirdFar.run(100);
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r%1POWR=1\r"));
    // While a line is being opened, requests wait for it rather than fail.
    client.out.clear();
    rig.queue.hold();
    client.send("%1POWR ?\r");
    thirdFar.run(100);
    QCOMPARE(client.out, QByteArray());
    rig.queue.setLine(&thirdLine);
    thirdFar.run(100);
    QCOMPARE(client.out, QByteArray("%1POWR=1\r"));
    // The request on the line when it is held ends ERR4; the one behind it waits.
    client.out.clear();
    client.send("%1POWR ?\r%1POWR ?\r");
    rig.queue.hold();
    thirdFar.run(100);
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r"));
    rig.queue.setLine(&thirdLine);
    thirdFar.run(100);
    QCOMPARE(client.out, QByteArray("%1POWR=ERR4\r%1POWR=1\r"));
}

QTEST_APPLESS_MAIN(TestPjlinkSession)
#include "tst_pjlinksession.moc"
