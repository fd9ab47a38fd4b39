#include <QTest>
#include <string>
#include <vector>

#include "sim/core/lineoutput.h"
#include "sim/core/linepacer.h"

namespace {

constexpr std::int64_t kMs = 1000;

struct TimedWrite {
    std::int64_t atUs;
    std::string bytes;
};

// Runs the output on virtual time, waking exactly when it says the next write is due.
std::vector<TimedWrite> runUntil(LineOutput &output, std::int64_t fromUs, std::int64_t untilUs)
{
    std::vector<TimedWrite> writes;
    std::int64_t now = fromUs;
    while (now <= untilUs) {
        for (const LineWrite &write : output.takeDue(now))
            writes.push_back({now, write.bytes});
        const auto due = output.nextDueUs(now);
        if (!due)
            break;
        if (*due <= now) {
            QTest::qFail("a write that was due was left behind", __FILE__, __LINE__);
            break;
        }
        now = *due;
    }
    return writes;
}

std::string joined(const std::vector<TimedWrite> &writes)
{
    std::string all;
    for (const TimedWrite &write : writes)
        all += write.bytes;
    return all;
}

}  // namespace

class TestSimLineOutput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldSendAReplyAtOnceInOneWrite();
    void shouldHoldAReplyForTheDelay();
    void shouldKeepRepliesInOrder();
    void shouldSendEachByteOnItsOwnWhenAsked();
    void shouldSendUnaskedTextAtItsRate();
    void shouldNotSendUnaskedTextBeforeStart();
    void shouldPaceAtTheLineSpeed_data();
    void shouldPaceAtTheLineSpeed();
    void shouldKeepTheFullLineSpeedWhenWokenLate();
    void pacerShouldCarryOneByteAfterAPauseAndNoBurst();
    void pacerShouldLetALateCallerCatchUpWhileBacklogged();
    void clearDropsPendingReplies();
};

void TestSimLineOutput::shouldSendAReplyAtOnceInOneWrite()
{
    LineOutput output;
    output.queueReply("00\r", 1, 5 * kMs);
    const auto writes = output.takeDue(5 * kMs);
    QCOMPARE(writes.size(), 1u);
    QCOMPARE(writes[0].bytes, std::string("00\r"));
    QCOMPARE(writes[0].replyFrom, 1);
    QCOMPARE(writes[0].reply, std::string("00\r"));
    QVERIFY(!output.nextDueUs(5 * kMs));
}

void TestSimLineOutput::shouldHoldAReplyForTheDelay()
{
    LineOutput output({.replyDelayUs = 300 * kMs});
    output.queueReply("80\r", 2, 1000 * kMs);
    QVERIFY(output.takeDue(1299 * kMs).empty());
    QCOMPARE(output.nextDueUs(1299 * kMs), std::optional<std::int64_t>(1300 * kMs));
    const auto writes = output.takeDue(1300 * kMs);
    QCOMPARE(writes.size(), 1u);
    QCOMPARE(writes[0].bytes, std::string("80\r"));
    QCOMPARE(writes[0].replyFrom, 2);
}

void TestSimLineOutput::shouldKeepRepliesInOrder()
{
    LineOutput output({.replyDelayUs = 100 * kMs});
    output.queueReply("1\r", 1, 0);
    output.queueReply("2\r", 1, 10 * kMs);
    QCOMPARE(joined(runUntil(output, 0, 1000 * kMs)), std::string("1\r2\r"));
}

void TestSimLineOutput::shouldSendEachByteOnItsOwnWhenAsked()
{
    LineOutput output({.byteAtATime = true, .byteGapUs = 20 * kMs});
    output.queueReply(" 25.0  25.0\r", 1, 0);
    const auto writes = runUntil(output, 0, 1000 * kMs);
    QCOMPARE(writes.size(), 12u);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        QCOMPARE(writes[i].bytes.size(), 1u);
        QCOMPARE(writes[i].atUs, static_cast<std::int64_t>(i) * 20 * kMs);
    }
    QCOMPARE(joined(writes), std::string(" 25.0  25.0\r"));
}

void TestSimLineOutput::shouldSendUnaskedTextAtItsRate()
{
    LineOutput output({.unasked = "abc", .unaskedRate = 100});
    output.start(0);
    const auto writes = runUntil(output, 0, 1000 * kMs - 1);
    // 100 bytes a second: one every 10 ms, from the start on.
    QCOMPARE(joined(writes).size(), 100u);
    QCOMPARE(joined(writes).substr(0, 7), std::string("abcabca"));
    QCOMPARE(writes[1].atUs, 10 * kMs);
}

void TestSimLineOutput::shouldNotSendUnaskedTextBeforeStart()
{
    LineOutput output({.unasked = "abc", .unaskedRate = 100});
    QVERIFY(output.takeDue(1000 * kMs).empty());
    QVERIFY(!output.nextDueUs(1000 * kMs));
}

void TestSimLineOutput::shouldPaceAtTheLineSpeed_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("byteAtATime");
    QTest::newRow("9600") << 9600 << false;
    QTest::newRow("19200") << 19200 << false;
    QTest::newRow("9600 byte at a time") << 9600 << true;
}

void TestSimLineOutput::shouldPaceAtTheLineSpeed()
{
    QFETCH(int, baud);
    QFETCH(bool, byteAtATime);
    LineOutput output({.byteAtATime = byteAtATime, .byteGapUs = 0});
    output.setBaud(baud);
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        output.queueReply(" 25.0  25.0\r", 1, 0);
        expected += " 25.0  25.0\r";
    }
    const auto writes = runUntil(output, 0, 10000 * kMs);
    QCOMPARE(joined(writes), expected);
    // The line never carries more than one byte per ten bit times, after the first.
    const double byteUs = 10.0e6 / baud;
    std::size_t sent = 0;
    for (const TimedWrite &write : writes) {
        sent += write.bytes.size();
        QVERIFY2(static_cast<double>(sent - 1) * byteUs <= static_cast<double>(write.atUs) + 1.0,
                 qPrintable(QStringLiteral("%1 bytes by %2 us").arg(sent).arg(write.atUs)));
    }
    QVERIFY(static_cast<double>(writes.back().atUs) >= (expected.size() - 1) * byteUs - 1.0);
}

void TestSimLineOutput::shouldKeepTheFullLineSpeedWhenWokenLate()
{
    LineOutput output;
    output.setBaud(19200);
    for (int i = 0; i < 200; ++i)
        output.queueReply(" 25.0  25.0\r", 1, 0);
    // A busy event loop: woken every 5 ms instead of when the next byte is due.
    std::size_t sent = 0;
    for (std::int64_t now = 0; now <= 1000 * kMs; now += 5 * kMs) {
        for (const LineWrite &write : output.takeDue(now))
            sent += write.bytes.size();
    }
    // 1920 bytes a second, give or take the first byte and the last wake-up.
    QVERIFY2(sent >= 1915 && sent <= 1921, qPrintable(QString::number(sent)));
}

void TestSimLineOutput::pacerShouldCarryOneByteAfterAPauseAndNoBurst()
{
    LinePacer pacer;
    QVERIFY(!pacer.paced());
    pacer.setBaud(9600);
    QCOMPARE(pacer.byteTimeNs(), 1041666);
    QCOMPARE(pacer.allowance(10000 * kMs), 1u);
    pacer.consume(1, 10000 * kMs, false);
    QCOMPARE(pacer.allowance(10000 * kMs), 0u);
    QCOMPARE(pacer.nextByteUs(10000 * kMs), 10000 * kMs + 1042);
    // Idle for ten byte times: still one byte at once, not ten.
    QCOMPARE(pacer.allowance(10000 * kMs + 10417), 1u);
    pacer.consume(1, 10000 * kMs + 10417, false);
    QCOMPARE(pacer.allowance(10000 * kMs + 10417), 0u);
}

void TestSimLineOutput::pacerShouldLetALateCallerCatchUpWhileBacklogged()
{
    LinePacer pacer;
    pacer.setBaud(19200);
    pacer.consume(1, 0, true);
    // The line went on carrying the backlog: 20 more bytes in 20 byte times.
    QCOMPARE(pacer.allowance(20 * 521), 20u);
    pacer.consume(20, 20 * 521, false);
    QCOMPARE(pacer.allowance(20 * 521), 0u);
    QCOMPARE(pacer.allowance(1000 * kMs), 1u);
}

void TestSimLineOutput::clearDropsPendingReplies()
{
    LineOutput output({.replyDelayUs = 100 * kMs});
    output.queueReply("00\r", 1, 0);
    output.clear(50 * kMs);
    QVERIFY(output.takeDue(1000 * kMs).empty());
    QVERIFY(output.idle());
}

QTEST_APPLESS_MAIN(TestSimLineOutput)
#include "tst_simlineoutput.moc"
