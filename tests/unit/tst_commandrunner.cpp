// koru-ctl's core on virtual time: the names from the command tables, the runner's replies,
// time-outs, repeats and exit status.
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <set>

#include "core/ctl/commandrunner.h"
#include "core/protocol/commandnames.h"
#include "support/bytes.h"
#include "support/fakeserialcontrol.h"
#include "support/virtualclock.h"

namespace {

// The projector's side on virtual time, as projector-sim plays it: each frame's reply comes
// delayMs after it, byte by byte byteGapMs apart, or whole.
class FarEnd {
public:
    FarEnd(VirtualClock &clock, FakeSerialControl &comm, int delayMs, int byteGapMs)
        : m_clock(clock), m_comm(comm)
    {
        m_comm.onOutput = [this, delayMs, byteGapMs](std::string_view frame) {
            static const std::map<std::string_view, std::string> replies{
                {"CR0\r", "80\r"},
                {"CR3\r", "01234\r"},
                {"CR6\r", " 25.0  25.0\r"},
                {"CR9\r", "KORU-SIM 001\r"}};
            const auto found = replies.find(frame);
            const std::string reply = found == replies.end() ? "\x06\r" : found->second;
            const std::int64_t at = m_clock.nowMs() + delayMs;
            for (std::size_t i = 0; i < reply.size() && byteGapMs > 0; ++i)
                m_due.emplace(at + std::int64_t(i) * byteGapMs, reply.substr(i, 1));
            if (byteGapMs == 0)
                m_due.emplace(at, reply);
        };
    }
    // Delivers what falls due, a millisecond at a time, until done() or the limit.
    void runUntil(const std::function<bool()> &done, std::int64_t limitMs)
    {
        while (!done() && m_clock.nowMs() < limitMs) {
            while (!m_due.empty() && m_due.begin()->first <= m_clock.nowMs()) {
                const std::string bytes = m_due.begin()->second;
                m_due.erase(m_due.begin());
                m_comm.receive(bytes);
            }
            m_clock.advance(1);
        }
    }

private:
    VirtualClock &m_clock;
    FakeSerialControl &m_comm;
    std::multimap<std::int64_t, std::string> m_due;
};

struct Outcome {
    QStringList results;  // the text, or "!" and the error
    int status = -1;
};

Outcome runOn(FakeSerialControl &comm, VirtualClock &clock, const std::vector<std::string> &names,
              int repeat, const std::function<void(const std::function<bool()> &)> &drive)
{
    Outcome outcome;
    CommandRunner runner(comm, clock, "", 500);
    runner.run(
        *planCommands(names, repeat),
        [&](const CtlResult &result) {
            outcome.results << QString::fromStdString(result.ok() ? result.text
                                                                  : "!" + result.error);
        },
        [&](int exitStatus) { outcome.status = exitStatus; });
    drive([&] { return outcome.status != -1; });
    return outcome;
}

}  // namespace

class TestCommandRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesShouldBeUniqueLowerCaseAndFindTheirRow();
    void shouldReportEachReplyAndExitStatus_data();
    void shouldReportEachReplyAndExitStatus();
    void repeatShouldSendAtTheButtonsInterval_data();
    void repeatShouldSendAtTheButtonsInterval();
    void replyShouldBeTheAnswerOnlyToTheFrameItFollows_data();
    void replyShouldBeTheAnswerOnlyToTheFrameItFollows();
    void floodShouldBeBoundedAndEndOnTime_data();
    void floodShouldBeBoundedAndEndOnTime();
    void fullOutputShouldHoldTheFrameUntilTheTimeOut_data();
    void fullOutputShouldHoldTheFrameUntilTheTimeOut();
    void lostLineShouldEndTheRunWithStatus3_data();
    void lostLineShouldEndTheRunWithStatus3();
};

void TestCommandRunner::namesShouldBeUniqueLowerCaseAndFindTheirRow()
{
    static const QRegularExpression wellFormed(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    std::set<std::string_view> seen;
    for (const NamedCommand &command : namedCommands()) {
        const QString name = QString::fromUtf8(qb(command.name));
        QVERIFY2(wellFormed.match(name).hasMatch(), qPrintable(name));
        QVERIFY2(seen.insert(command.name).second, qPrintable(name));
        QVERIFY2(!command.description.empty(), qPrintable(name));
        QCOMPARE(qb(findCommand(command.name)->code), qb(command.code));
    }
    QVERIFY(!findCommand("Power-On"));
}

void TestCommandRunner::shouldReportEachReplyAndExitStatus_data()
{
    // replies: what the projector sends for each frame, in two pieces split at "|";
    // "-" for silence. results: the text, or "!" and the error.
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("endsAtMs");
    using L = QList<QByteArray>;
    QTest::newRow("ack") << QStringList{"power-on"} << "" << L{"\x06|\r"} << QStringList{"ACK"} << 0
                         << 0;
    QTest::newRow("nak") << QStringList{"input-1"} << "" << L{"\x15\r"} << QStringList{"!NAK"} << 1
                         << 0;
    QTest::newRow("silence times out at 500 ms")
        << QStringList{"status"} << "" << L{"-"} << QStringList{"!no reply within 500 ms"} << 1
        << 500;
    QTest::newRow("no CR is no reply") << QStringList{"status"} << "" << L{"00|"}
                                       << QStringList{"!no reply within 500 ms"} << 1 << 500;
    QTest::newRow("query in pieces")
        << QStringList{"status"} << "" << L{"0|0\r"} << QStringList{"Power ON"} << 0 << 0;
    QTest::newRow("lamp hours as they came") << QStringList{"lamp-time"} << "A002" << L{"01234\r"}
                                             << QStringList{"01234 Hour Use"} << 0 << 0;
    QTest::newRow("undecodable") << QStringList{"status"} << "" << L{"77\r"}
                                 << QStringList{"!undecodable reply"} << 1 << 0;
    QTest::newRow("text for an operation") << QStringList{"freeze-on"} << "" << L{"00\r"}
                                           << QStringList{"!unexpected reply"} << 1 << 0;
    // After a time-out the next frame waits for 500 ms of quiet on the line.
    QTest::newRow("a failure does not stop the rest")
        << QStringList{"power-on", "status", "mode"} << "A001" << L{"-", "8|0\r", "3\r"}
        << QStringList{"!no reply within 500 ms", "Stand by", "Input 3"} << 1 << 1000;
    // Each reply has the form the projector sends for its query.
    for (const char *query : {"lamp-time", "temp", "pc-type", "status", "mode"}) {
        QTest::newRow(qPrintable(QStringLiteral("ACK to %1").arg(query)))
            << QStringList{query} << "" << L{"\x06\r"} << QStringList{"!undecodable reply"} << 1
            << 0;
    }
    QTest::newRow("lamp hours not digits") << QStringList{"lamp-time"} << "" << L{"0123x\r"}
                                           << QStringList{"!undecodable reply"} << 1 << 0;
    QTest::newRow("a status with more after it")
        << QStringList{"status"} << "" << L{"00 \r"} << QStringList{"!undecodable reply"} << 1 << 0;
    QTest::newRow("temperatures, signed") << QStringList{"temp"} << "" << L{"-12.5  +3.0\r"}
                                          << QStringList{"S1=-12.5 C, S2= +3.0 C"} << 0 << 0;
    QTest::newRow("temperatures out of place") << QStringList{"temp"} << "" << L{"25.0 25.0\r"}
                                               << QStringList{"!undecodable reply"} << 1 << 0;
    QTest::newRow("a model with a control byte")
        << QStringList{"pc-type"} << "" << L{"KORU\x1b[2J\r"} << QStringList{"!undecodable reply"}
        << 1 << 0;
    QTest::newRow("a model beyond ASCII") << QStringList{"pc-type"} << "" << L{"KORU\xe9\r"}
                                          << QStringList{"!undecodable reply"} << 1 << 0;
}

void TestCommandRunner::shouldReportEachReplyAndExitStatus()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, prefix);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QStringList, results);
    QFETCH(int, exitStatus);
    QFETCH(int, endsAtMs);

    std::vector<std::string> names;
    for (const QString &command : commands)
        names.push_back(command.toStdString());
    const auto steps = planCommands(names, 1);
    QVERIFY(steps);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    CommandRunner runner(comm, clock, prefix.toStdString(), 500);
    QStringList reported;
    std::vector<std::string> frames;
    int status = -1;
    runner.run(
        *steps,
        [&](const CtlResult &result) {
            reported << QString::fromStdString(result.ok() ? result.text : "!" + result.error);
            frames.push_back(result.frame);
        },
        [&](int exitStatus) { status = exitStatus; });

    for (const QByteArray &reply : replies) {
        QCOMPARE(status, -1);
        for (int waited = 0; comm.written.size() < frames.size() + 1 && waited < 5000; ++waited)
            clock.advance(1);
        if (reply == "-") {
            clock.advance(499);
            QCOMPARE(reported.size(), static_cast<qsizetype>(frames.size()));
            clock.advance(1);
        } else {
            for (const QByteArray &piece : reply.split('|'))
                comm.receive(piece.toStdString());
            if (!reply.contains('\r'))
                clock.advance(500);
        }
    }
    QCOMPARE(reported, results);
    QCOMPARE(status, exitStatus);
    QCOMPARE(clock.nowMs(), endsAtMs);
    QCOMPARE(comm.written, frames);
    for (std::size_t i = 0; i < frames.size(); ++i)
        QCOMPARE(comm.written[i], prefix.toStdString() + std::string((*steps)[i].code) + "\r");
}

void TestCommandRunner::repeatShouldSendAtTheButtonsInterval_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("replyAfterMs");
    QTest::addColumn<bool>("strayByte");  // one byte nobody asked for, just before the run
    QTest::addColumn<QList<int>>("sentAtMs");
    QTest::newRow("zoom, 50 ms") << "zoom-in" << 0 << false << QList<int>{0, 50, 100};
    QTest::newRow("volume, 250 ms") << "vol-down" << 10 << false << QList<int>{0, 250, 500};
    QTest::newRow("arrow, the panel's 200 ms")
        << "arrow-left" << 0 << false << QList<int>{0, 200, 400};
    QTest::newRow("a slow reply holds the next back")
        << "lens-shift-up" << 80 << false << QList<int>{0, 80, 160};
    QTest::newRow("a one-shot goes once") << "power-on" << 0 << false << QList<int>{0};
    QTest::newRow("a stray byte holds the first back, not the interval")
        << "vol-down" << 10 << true << QList<int>{500, 750, 1000};
}

void TestCommandRunner::repeatShouldSendAtTheButtonsInterval()
{
    QFETCH(QString, command);
    QFETCH(int, replyAfterMs);
    QFETCH(bool, strayByte);
    QFETCH(QList<int>, sentAtMs);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    QList<int> sent;
    comm.onOutput = [&](std::string_view) { sent << static_cast<int>(clock.nowMs()); };
    CommandRunner runner(comm, clock, "", 500);
    if (strayByte)
        comm.receive("x");
    int status = -1;
    runner.run(*planCommands({command.toStdString()}, 3), {}, [&](int s) { status = s; });
    for (int i = 0; i < 3 && status == -1; ++i) {
        while (status == -1 && sent.size() < i + 1 && clock.nowMs() < 5000)
            clock.advance(1);
        clock.advance(replyAfterMs);
        comm.receive("\x06\r");
    }
    QCOMPARE(sent, sentAtMs);
    QCOMPARE(status, 0);
}

void TestCommandRunner::replyShouldBeTheAnswerOnlyToTheFrameItFollows_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("byteGapMs");
    QTest::addColumn<QStringList>("results");
    const QString late = QStringLiteral("!no reply within 500 ms");
    const QStringList queries{"status", "lamp-time", "temp", "pc-type"};
    QTest::newRow("prompt replies")
        << queries << 1 << 100 << 0
        << QStringList{"Stand by", "01234 Hour Use", "S1= 25.0 C, S2= 25.0 C", "KORU-SIM 001"};
    QTest::newRow("replies 700 ms late")
        << queries << 1 << 700 << 0 << QStringList{late, late, late, late};
    QTest::newRow("bytes 300 ms apart, then a query")
        << QStringList{"status", "temp"} << 1 << 0 << 300 << QStringList{late, late};
    // The first reply's bytes still come at 1500 ms, past the quiet gap and the time-out.
    QTest::newRow("the same query twice, bytes 300 ms apart")
        << QStringList{"lamp-time", "lamp-time"} << 1 << 0 << 300
        << QStringList{late, "!the line did not fall quiet for 500 ms; the frame was not sent"};
    QTest::newRow("repeats, replies 700 ms late")
        << QStringList{"vol-up"} << 3 << 700 << 0 << QStringList{late, late, late};
    QTest::newRow("repeats, prompt replies")
        << QStringList{"vol-up"} << 3 << 20 << 0 << QStringList{"ACK", "ACK", "ACK"};
}

void TestCommandRunner::replyShouldBeTheAnswerOnlyToTheFrameItFollows()
{
    QFETCH(QStringList, commands);
    QFETCH(int, repeat);
    QFETCH(int, delayMs);
    QFETCH(int, byteGapMs);
    QFETCH(QStringList, results);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    FarEnd far(clock, comm, delayMs, byteGapMs);
    std::vector<std::string> names;
    for (const QString &command : commands)
        names.push_back(command.toStdString());
    const Outcome outcome =
        runOn(comm, clock, names, repeat, [&](const auto &done) { far.runUntil(done, 60000); });
    QCOMPARE(outcome.results, results);
    QCOMPARE(outcome.status, results.filter(QStringLiteral("!")).isEmpty() ? 0 : 1);
}

void TestCommandRunner::floodShouldBeBoundedAndEndOnTime_data()
{
    // A far end that sends 4 KiB every millisecond from the first frame on.
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QString>("firstResult");
    QTest::addColumn<int>("firstReplyBytes");
    QTest::newRow("no carriage return")
        << QByteArray(4096, 'x') << "!undecodable reply (256 bytes with no carriage return)" << 256;
    QTest::newRow("carriage returns") << QByteArray(4096, '\r') << "!undecodable reply" << 1;
}

void TestCommandRunner::floodShouldBeBoundedAndEndOnTime()
{
    QFETCH(QByteArray, piece);
    QFETCH(QString, firstResult);
    QFETCH(int, firstReplyBytes);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    std::vector<std::size_t> replyBytes;
    QList<std::int64_t> endedAtMs;
    CommandRunner runner(comm, clock, "", 500);
    QStringList results;
    int status = -1;
    runner.run(
        *planCommands({"status", "lamp-time"}, 1),
        [&](const CtlResult &result) {
            results << QString::fromStdString(result.ok() ? result.text : "!" + result.error);
            replyBytes.push_back(result.reply.size());
            endedAtMs << clock.nowMs();
        },
        [&](int exitStatus) { status = exitStatus; });
    for (int ms = 0; ms < 10000 && status == -1; ++ms) {
        comm.receive(piece.toStdString());
        clock.advance(1);
    }
    // The line never falls quiet, so the second frame is never sent; its wait is bounded by
    // the quiet gap and the time-out.
    QCOMPARE(results, QStringList({firstResult,
                                   "!the line did not fall quiet for 500 ms; the "
                                   "frame was not sent"}));
    QCOMPARE(replyBytes, std::vector<std::size_t>({std::size_t(firstReplyBytes), 0}));
    QCOMPARE(endedAtMs, QList<std::int64_t>({0, 1000}));
    QCOMPARE(comm.written.size(), std::size_t(1));
    QCOMPARE(status, 1);
}

void TestCommandRunner::fullOutputShouldHoldTheFrameUntilTheTimeOut_data()
{
    // The port's output buffer takes nothing for fullForMs (a fast device ahead of its slow
    // line); the far end acknowledges the frame once it is written.
    QTest::addColumn<int>("fullForMs");
    QTest::addColumn<bool>("noiseWhileFull");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("endsAtMs");
    QTest::newRow("room at once") << 0 << false << "ACK" << 0;
    QTest::newRow("room after 30 ms") << 30 << false << "ACK" << 30;
    QTest::newRow("room just in time") << 499 << false << "ACK" << 500;
    QTest::newRow("no room within the time-out")
        << 100000 << false << "!the frame could not be written" << 500;
    QTest::newRow("bytes while waiting for room")
        << 30 << true << "!the line did not fall quiet for 500 ms; the frame was not sent" << 500;
}

void TestCommandRunner::fullOutputShouldHoldTheFrameUntilTheTimeOut()
{
    QFETCH(int, fullForMs);
    QFETCH(bool, noiseWhileFull);
    QFETCH(QString, result);
    QFETCH(int, endsAtMs);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    comm.busy = fullForMs > 0;
    comm.onOutput = [&](std::string_view) {
        if (!comm.busy)
            comm.receive("\x06\r");
    };
    std::int64_t endedAtMs = -1;
    const Outcome outcome = runOn(comm, clock, {"power-on"}, 1, [&](const auto &done) {
        for (int ms = 0; ms < 10000 && !done(); ++ms) {
            if (noiseWhileFull && comm.busy)
                comm.receive("x");
            comm.busy = clock.nowMs() + 1 < fullForMs;
            clock.advance(1);
        }
        endedAtMs = clock.nowMs();
    });
    QCOMPARE(outcome.results, QStringList{result});
    QCOMPARE(comm.written.size(), std::size_t(result == "ACK" ? 1 : 0));
    QCOMPARE(endedAtMs, std::int64_t(endsAtMs));
}

void TestCommandRunner::lostLineShouldEndTheRunWithStatus3_data()
{
    QTest::addColumn<int>("lostAtMs");
    QTest::addColumn<QStringList>("results");
    // The second frame goes out at 250 ms, the button's repeat interval.
    QTest::newRow("awaiting a reply") << 260 << QStringList{"ACK", "!the line was lost"};
    QTest::newRow("between repeats") << 10 << QStringList{"ACK", "!the line was lost"};
}

void TestCommandRunner::lostLineShouldEndTheRunWithStatus3()
{
    QFETCH(int, lostAtMs);
    QFETCH(QStringList, results);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    const Outcome outcome = runOn(comm, clock, {"vol-up"}, 100000, [&](const auto &done) {
        comm.receive("\x06\r");
        clock.advance(lostAtMs);
        comm.loseLine();
        for (int ms = 0; ms < 10000 && !done(); ++ms)
            clock.advance(1);
    });
    QCOMPARE(outcome.results, results);
    QCOMPARE(comm.written.size(), std::size_t(lostAtMs < 250 ? 1 : 2));
    QCOMPARE(outcome.status, kCtlLineLost);
}

QTEST_APPLESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
