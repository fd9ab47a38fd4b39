#include <QtTest>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel/commandsender.h"
#include "core/panel/intervaltimer.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"
#include "support/bytes.h"
#include "support/corepanel.h"
#include "support/fakeserialcontrol.h"
#include "support/goldentables.h"
#include "support/recordingdisplays.h"
#include "support/recordingmessagebox.h"
#include "support/virtualclock.h"

namespace {

using Target = RecordingDisplays::Target;

QByteArray hex(std::string_view bytes)
{
    return qb(bytes).toHex(' ').toUpper();
}

// The serial half of the panel on a virtual clock, with the design intervals.
using Panel = CorePanel<RecordingDisplays>;

// The texts one display was given, from a virtual time on.
QList<QByteArray> textsOf(const RecordingDisplays &displays, Target target, std::int64_t from)
{
    QList<QByteArray> texts;
    for (const auto &change : displays.changesOf(target)) {
        if (change.at >= from)
            texts.append(qb(change.text));
    }
    return texts;
}

}  // namespace

class TestTrafficMonitor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sendingC00WritesExactlyItsFourBytesAndShowsThem();
    void sendWritesTheWholeFrameUnchangedInOneWrite();
    void sendStartsBothTimeoutsAndAwaitsReply();
    void answeredQueryFollowsTheExchangeTimeline();
    void shouldShowTimeoutMarkWhenNoReplyIn500ms();
    void lateReplyAt600msIsShownAloneAfterTheTimeoutMark();
    void twoFramesSent100msApartKeepBothRepliesUntilTheReplyTimeout();
    void replySplitOverTwoReceiveEventsIsShownAsItGrows();
    void ackReplyIsShownAsAmpersand();
    void unaskedTextIsShownAndKeptUntil500msAfterTheNextSend();
    void sendLeavesEarlierReplyShownUntilTheTimeoutMark();
    void sendLeavesEarlierReplyShownUntilTheNextReceive();
    void sendToClosedPortWritesNothingButShowsFrameAndPortChoice();
    void sendToClosedPortRestartsTheFiveSecondsOfThePortChoice();
    void sendToLostLineBringsUpThePortChoice();
    void sendToOpenPortLeavesThePortChoiceAlone();
    void lostLineBringsUpThePortChoiceAtOnce();
    void framesTheBusyLineDropsAreCountedInTheTxdToolTip();
    void portChoiceHidesFiveSecondsAfterItIsShown();
    void displayTimeoutBlanksTxdRxdAndStatusInThatOrder();
    void endlessUnaskedTextIsBoundedAt32767Characters();
    void rxdShowsAllOfTheBufferAfterEveryReceiveEvent_data();
    void rxdShowsAllOfTheBufferAfterEveryReceiveEvent();
};

void TestTrafficMonitor::sendingC00WritesExactlyItsFourBytesAndShowsThem()
{
    Panel panel;
    panel.click("Command17");
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QCOMPARE(hex(panel.comm.written[0]), QByteArray("43 30 30 0D"));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C 0 0 CR "));
    // The RXD and status displays and the receive buffer are not touched by a send.
    QCOMPARE(textsOf(panel.displays, Target::Rxd, 0), QList<QByteArray>());
    QCOMPARE(textsOf(panel.displays, Target::Status, 0), QList<QByteArray>());
    QVERIFY(panel.monitor.rxBuffer().empty());
}

void TestTrafficMonitor::sendWritesTheWholeFrameUnchangedInOneWrite()
{
    Panel panel;
    panel.selectPrefix("A003");
    panel.click("Command44");
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QCOMPARE(hex(panel.comm.written[0]), QByteArray("41 30 30 33 43 52 30 0D"));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" A 0 0 3 C R 0 CR "));
}

void TestTrafficMonitor::sendStartsBothTimeoutsAndAwaitsReply()
{
    Panel panel;
    QVERIFY(!panel.timer2.enabled());
    QVERIFY(!panel.timer4.enabled());
    panel.click("Command44");
    QVERIFY(panel.timer2.enabled());
    QVERIFY(panel.timer4.enabled());
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    // A send while already awaiting stays awaiting.
    panel.click("Command45");
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    QCOMPARE(panel.comm.written.size(), std::size_t(2));
}

void TestTrafficMonitor::answeredQueryFollowsTheExchangeTimeline()
{
    Panel panel;
    panel.click("Command44");  // "STATUS": CR0
    QCOMPARE(qb(panel.comm.written.at(0)), QByteArray("CR0\r"));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C R 0 CR "));

    panel.at(50);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));

    panel.at(499);
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QVERIFY(panel.timer2.enabled());
    panel.at(500);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QVERIFY(panel.monitor.rxBuffer().empty());
    QVERIFY(!panel.timer2.enabled());
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);

    panel.at(999);
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C R 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    panel.at(1000);
    QCOMPARE(qb(panel.displays.txd), QByteArray());
    QCOMPARE(qb(panel.displays.rxd), QByteArray());
    QCOMPARE(qb(panel.displays.status), QByteArray());
    QVERIFY(!panel.timer4.enabled());

    // Nothing happens after that, and the line carried the one frame.
    const std::size_t changes = panel.displays.history.size();
    panel.at(10'000);
    QCOMPARE(panel.displays.history.size(), changes);
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
}

void TestTrafficMonitor::shouldShowTimeoutMarkWhenNoReplyIn500ms()
{
    Panel panel;
    panel.click("Command44");
    panel.at(499);
    QVERIFY(panel.displays.changesOf(Target::Rxd).empty());
    panel.at(500);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    QVERIFY(panel.displays.status.empty());
    panel.at(999);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
    panel.at(1000);
    QCOMPARE(qb(panel.displays.rxd), QByteArray());
    QCOMPARE(textsOf(panel.displays, Target::Rxd, 0), (QList<QByteArray>{" X X X X", ""}));
}

void TestTrafficMonitor::lateReplyAt600msIsShownAloneAfterTheTimeoutMark()
{
    Panel panel;
    panel.click("Command44");
    panel.at(500);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
    panel.at(600);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    panel.at(1000);
    QCOMPARE(qb(panel.displays.txd), QByteArray());
    QCOMPARE(qb(panel.displays.rxd), QByteArray());
    QCOMPARE(qb(panel.displays.status), QByteArray());
    // No reply time-out runs any more, so the late reply stays buffered.
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
}

void TestTrafficMonitor::twoFramesSent100msApartKeepBothRepliesUntilTheReplyTimeout()
{
    Panel panel;
    panel.click("Command44");  // CR0
    panel.comm.receive("00\r");
    panel.at(100);
    panel.click("Command45");  // CR1
    panel.comm.receive("2\r");
    QCOMPARE(panel.comm.written.size(), std::size_t(2));
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r2\r"));
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR 2 CR "));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C R 1 CR "));
    // The second frame enabled the running reply time-out, which runs on to 500.
    panel.at(499);
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r2\r"));
    panel.at(500);
    QVERIFY(panel.monitor.rxBuffer().empty());
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR 2 CR "));
    // Likewise the display time-out: 1000 ms after the first send.
    panel.at(999);
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C R 1 CR "));
    panel.at(1000);
    QCOMPARE(qb(panel.displays.txd), QByteArray());
}

void TestTrafficMonitor::replySplitOverTwoReceiveEventsIsShownAsItGrows()
{
    Panel panel;
    panel.click("Command17");
    panel.at(10);
    panel.comm.receive("0");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 "));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    panel.at(12);
    panel.comm.receive("0\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QCOMPARE(textsOf(panel.displays, Target::Rxd, 0), (QList<QByteArray>{" 0 ", " 0 0 CR "}));
}

void TestTrafficMonitor::ackReplyIsShownAsAmpersand()
{
    Panel panel;
    panel.click("Command17");
    panel.comm.receive("\x06\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" &CR "));
    panel.comm.receive("~\x7f\t\x80\xff");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" &CR ? ? ? ? ? "));
}

void TestTrafficMonitor::unaskedTextIsShownAndKeptUntil500msAfterTheNextSend()
{
    Panel panel;
    panel.comm.receive("HELLO\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" H E L L O CR "));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    panel.at(60'000);  // no time-out runs while nothing is sent
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("HELLO\r"));
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" H E L L O CR "));

    panel.click("Command44");  // CR0 at 60 000: sending does not empty the buffer
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("HELLO\r"));
    panel.at(60'040);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" H E L L O CR 0 0 CR "));
    // The key comes from the unasked text, which matches nothing.
    QVERIFY(panel.displays.status.empty());
    panel.at(60'499);
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("HELLO\r00\r"));
    panel.at(60'500);
    QVERIFY(panel.monitor.rxBuffer().empty());
}

void TestTrafficMonitor::sendLeavesEarlierReplyShownUntilTheTimeoutMark()
{
    Panel panel;
    panel.click("Command44");
    panel.at(30);
    panel.comm.receive("00\r");
    panel.at(200);
    panel.click("Command17");  // C00, unanswered
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C 0 0 CR "));
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    panel.at(499);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    // The reply time-out started by the first send finds the second unanswered.
    panel.at(500);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
}

void TestTrafficMonitor::sendLeavesEarlierReplyShownUntilTheNextReceive()
{
    Panel panel;
    panel.click("Command44");
    panel.comm.receive("80\r");
    panel.at(100);
    panel.click("Command17");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 8 0 CR "));
    panel.at(150);
    panel.comm.receive("\x06");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 8 0 CR &"));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Stand by"));
}

void TestTrafficMonitor::sendToClosedPortWritesNothingButShowsFrameAndPortChoice()
{
    Panel panel(Panel::Port::Closed);
    QVERIFY(!panel.comm.portOpen());
    panel.click("Command17");
    QVERIFY(panel.comm.written.empty());
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C 0 0 CR "));
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("C00\r"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    QVERIFY(panel.timer2.enabled());
    QVERIFY(panel.timer4.enabled());
    QVERIFY(panel.displays.frame8Visible);
    QVERIFY(panel.timer3.enabled());

    panel.at(500);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
    panel.at(1000);
    QVERIFY(panel.displays.txd.empty());
    QVERIFY(panel.displays.rxd.empty());
    panel.at(4999);
    QVERIFY(panel.displays.frame8Visible);
    panel.at(5000);
    QVERIFY(!panel.displays.frame8Visible);
    QVERIFY(!panel.timer3.enabled());
}

void TestTrafficMonitor::sendToClosedPortRestartsTheFiveSecondsOfThePortChoice()
{
    Panel panel(Panel::Port::Closed);
    panel.core.showPortSettings();  // the "COM" button at 0
    panel.at(3000);
    panel.click("Command18");
    QVERIFY(panel.comm.written.empty());
    panel.at(5000);
    QVERIFY(panel.displays.frame8Visible);
    panel.at(7999);
    QVERIFY(panel.displays.frame8Visible);
    panel.at(8000);
    QVERIFY(!panel.displays.frame8Visible);
    QCOMPARE(textsOf(panel.displays, Target::Frame8, 0),
             (QList<QByteArray>{"shown", "shown", "hidden"}));
}

void TestTrafficMonitor::sendToLostLineBringsUpThePortChoice()
{
    Panel panel;
    panel.click("Command17");
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QVERIFY(!panel.displays.frame8Visible);
    panel.comm.loseLine();
    panel.at(2000);
    panel.click("Command18");
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C 0 1 CR "));
    QVERIFY(panel.displays.frame8Visible);
}

void TestTrafficMonitor::lostLineBringsUpThePortChoiceAtOnce()
{
    Panel panel;
    panel.at(1000);
    panel.comm.loseLine();
    QVERIFY(panel.displays.frame8Visible);
    panel.at(1000 + ComSettingsFrame::kTimeoutMs);
    QVERIFY(!panel.displays.frame8Visible);
}

void TestTrafficMonitor::framesTheBusyLineDropsAreCountedInTheTxdToolTip()
{
    Panel panel;
    panel.click("Command17");
    QVERIFY(panel.displays.txdToolTip.empty());
    panel.comm.busy = true;
    panel.click("Command17");
    QCOMPARE(qb(panel.displays.txdToolTip), QByteArray("1 frame dropped: the line was busy"));
    panel.click("Command18");
    panel.click("Command17");
    QCOMPARE(qb(panel.displays.txdToolTip), QByteArray("3 frames dropped: the line was busy"));
    QCOMPARE(panel.monitor.droppedFrames(), std::uint64_t(3));
    // A frame sent to a closed port is no frame the line dropped: the port choice shows it.
    panel.comm.closePort();
    panel.click("Command17");
    QCOMPARE(panel.monitor.droppedFrames(), std::uint64_t(3));
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
}

void TestTrafficMonitor::sendToOpenPortLeavesThePortChoiceAlone()
{
    Panel panel;
    for (const OneShotButton &button : kOneShotButtons)
        panel.core.click(button);
    QCOMPARE(panel.comm.written.size(), kOneShotButtons.size());
    QVERIFY(panel.displays.changesOf(Target::Frame8).empty());
    QVERIFY(!panel.timer3.enabled());
}

void TestTrafficMonitor::portChoiceHidesFiveSecondsAfterItIsShown()
{
    Panel panel;
    panel.at(100);
    panel.core.showPortSettings();
    QVERIFY(panel.displays.frame8Visible);
    panel.at(5099);
    QVERIFY(panel.displays.frame8Visible);
    panel.at(5100);
    QVERIFY(!panel.displays.frame8Visible);
    QVERIFY(!panel.timer3.enabled());
    panel.at(20'000);
    QCOMPARE(textsOf(panel.displays, Target::Frame8, 0), (QList<QByteArray>{"shown", "hidden"}));
}

void TestTrafficMonitor::displayTimeoutBlanksTxdRxdAndStatusInThatOrder()
{
    Panel panel;
    panel.click("Command44");
    panel.comm.receive("00\r");
    panel.displays.history.clear();
    panel.at(1000);
    QCOMPARE(panel.displays.history.size(), std::size_t(3));
    QVERIFY(panel.displays.history[0].target == Target::Txd);
    QVERIFY(panel.displays.history[1].target == Target::Rxd);
    QVERIFY(panel.displays.history[2].target == Target::Status);
    for (const auto &change : panel.displays.history) {
        QVERIFY(change.text.empty());
        QCOMPARE(change.at, std::int64_t(1000));
    }
}

void TestTrafficMonitor::endlessUnaskedTextIsBoundedAt32767Characters()
{
    Panel panel;
    for (int i = 0; i < 50; ++i)
        panel.comm.receive(std::string(1000, 'u'));
    QCOMPARE(panel.monitor.rxBuffer().size(), std::size_t(32767));
    QCOMPARE(panel.displays.rxd.size(), std::size_t(1 + 2 * 32767));
    // After the reply time-out of a send the buffer starts again.
    panel.click("Command17");
    panel.at(500);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
}

void TestTrafficMonitor::rxdShowsAllOfTheBufferAfterEveryReceiveEvent_data()
{
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 8; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestTrafficMonitor::rxdShowsAllOfTheBufferAfterEveryReceiveEvent()
{
    // Receive events of every size, up to and past the buffer's bound, among sends, reply and
    // display time-outs, holds and their releases: after each event the RXD display is the
    // rendering of the whole buffer made afresh, and the status what decoding it gives.
    QFETCH(unsigned, seed);
    std::mt19937 random(seed);
    Panel panel;
    const HoldButton *held = nullptr;
    for (int step = 0; step < 600; ++step) {
        switch (random() % 6) {
        case 0:
        case 1: {
            std::string bytes(random() % 10 == 0 ? random() % 9000 : 1 + random() % 30, '\0');
            for (char &c : bytes)
                c = "0AZ \x06\r\n\x7f\xff"[random() % 9];
            const std::string statusBefore = panel.displays.status;
            panel.comm.receive(bytes);
            QCOMPARE(panel.displays.rxd, renderTraffic(panel.monitor.rxBuffer()));
            const auto status = decodeStatus(panel.displays.rxd, panel.sender.lastCommand(),
                                             panel.sender.idPrefix());
            QCOMPARE(panel.displays.status, status.value_or(statusBefore));
            break;
        }
        case 2:
            panel.core.click(kOneShotButtons[random() % kOneShotButtons.size()]);
            break;
        case 3:
        case 4:
            panel.clock.advance(random() % 1200);
            break;
        case 5:
            if (held) {
                panel.core.release(*held);
                held = nullptr;
            } else {
                held = &kHoldButtons[random() % kHoldButtons.size()];
                panel.core.press(*held);
            }
            break;
        }
    }
}

QTEST_APPLESS_MAIN(TestTrafficMonitor)
#include "tst_trafficmonitor.moc"
