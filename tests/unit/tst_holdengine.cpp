#include <QtTest>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel/commandsender.h"
#include "core/panel/holdengine.h"
#include "core/panel/intervaltimer.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
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

// The command of a hold button, from the tables written out by hand.
std::string holdCommand(std::string_view control)
{
    for (const golden::Hold &row : golden::kHolds) {
        if (row.control == control)
            return row.command;
    }
    qFatal("no hold button %s", std::string(control).c_str());
}

// Every code a frame can carry: the one-shot codes and the hold commands.
bool isKnownCode(const std::string &code)
{
    for (const golden::OneShot &row : golden::kOneShots) {
        if (code == row.code)
            return true;
    }
    for (const golden::Hold &row : golden::kHolds) {
        if (code == row.command)
            return true;
    }
    return false;
}

// The panel's hold buttons, traffic monitor and send step on a virtual clock, with the
// design intervals and the port open.
struct Panel : CorePanel<RecordingDisplays> {
    struct Sent {
        std::int64_t at;
        std::string frame;
    };

    std::vector<Sent> sent;
    std::function<void(const std::string &)> onSend;

    Panel()
    {
        // Every frame handed to the line, with the time it went.
        comm.onOutput = [this](std::string_view frame) {
            sent.push_back({clock.nowMs(), std::string(frame)});
            if (onSend)
                onSend(std::string(frame));
        };
    }

    QList<qint64> sendTimes(std::int64_t from = 0) const
    {
        QList<qint64> times;
        for (const Sent &s : sent) {
            if (s.at >= from)
                times.append(s.at);
        }
        return times;
    }
    QList<QByteArray> frames(std::int64_t from = 0) const
    {
        QList<QByteArray> list;
        for (const Sent &s : sent) {
            if (s.at >= from)
                list.append(qb(s.frame));
        }
        return list;
    }
    QList<QByteArray> texts(Target target, std::int64_t from, std::int64_t to) const
    {
        QList<QByteArray> list;
        for (const auto &change : displays.changesOf(target)) {
            if (change.at >= from && change.at <= to)
                list.append(qb(change.text));
        }
        return list;
    }
};

QList<qint64> every(qint64 from, qint64 to, qint64 step)
{
    QList<qint64> times;
    for (qint64 t = from; t <= to; t += step)
        times.append(t);
    return times;
}

}  // namespace

class TestHoldEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void volPlusPressAndReleaseWithin250msSendsOneFrame_data();
    void volPlusPressAndReleaseWithin250msSendsOneFrame();
    void releaseAfterDisplayTimeoutFiredBlanksAgain1000msLater();
    void holdingVolPlusSendsAtPressAndEvery250ms();
    void zoomMinusRepeatsEvery50msAndReleaseRestoresTimeoutIntervals();
    void everyHoldButtonRepeatsItsOwnCommand_data();
    void everyHoldButtonRepeatsItsOwnCommand();
    void arrowAfterStartUpRepeatsEvery200msWithTimeoutsUntouched();
    void arrowAfterMenuOnRepeatsEvery200msWithTimeouts150And190_data();
    void arrowAfterMenuOnRepeatsEvery200msWithTimeouts150And190();
    void arrowAfterDigitalZoomReleaseRepeatsEvery5ms_data();
    void arrowAfterDigitalZoomReleaseRepeatsEvery5ms();
    void arrowModeThreeOutlivesHoldsOfOtherButtonsUntilMenuOn();
    void arrowAfterFocusHoldRepeatsEvery50ms();
    void arrowAfterSelectHoldRepeatsEvery500ms();
    void selectReleaseStoresFourteenAndNeverSendsC3e();
    void pjSelectChangeBetweenHoldsChangesEveryFrameOfTheSecond();
    void pjSelectChangeDuringHoldChangesTheNextRepetition();
    void keystoneUnderAllAndArrowUnderSingleSendTheirBytes();
    void releaseWithNothingHeldStillBlanksAndRestores_data();
    void releaseWithNothingHeldStillBlanksAndRestores();
    void unansweredLastRepetitionGetsNoTimeoutMark();
    void answeredRepetitionsGetNoTimeoutMark();
    void holdWithNoReleaseStopsAfterSixtySeconds();
    void replyAfterReleaseStartsFromEmptyBuffer();
    void secondPressOnHeldButtonSendsAtOnceAndStartsFullInterval();
    void secondPressOnHeldArrowSendsAtOnceAndLetsIntervalRunOn();
    void clicksRepliesAndTimeoutsDoNotStopRepetition();
    void randomSessionsSendOnlyWellFormedFramesAndOnlyWhileHeld();
};

void TestHoldEngine::volPlusPressAndReleaseWithin250msSendsOneFrame_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("SINGLE") << "SINGLE" << QByteArray("C09\r");
    QTest::newRow("002") << "002" << QByteArray("A002C09\r");
}

void TestHoldEngine::volPlusPressAndReleaseWithin250msSendsOneFrame()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, frame);
    Panel panel;
    panel.select(address.toStdString());
    panel.press("Command1");
    QCOMPARE(int(panel.engine.heldKey()), 1);
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QCOMPARE(qb(panel.comm.written[0]), frame);
    QVERIFY(!panel.displays.txd.empty());
    panel.at(100);
    panel.release("Command1");
    QCOMPARE(int(panel.engine.heldKey()), 0);
    QCOMPARE(panel.texts(Target::Txd, 100, 100), QList<QByteArray>{""});
    QCOMPARE(panel.texts(Target::Rxd, 100, 100), QList<QByteArray>{""});

    panel.at(1099);
    QVERIFY(panel.texts(Target::Txd, 101, 1099).isEmpty());
    panel.at(1100);
    QCOMPARE(panel.texts(Target::Txd, 1100, 1100), QList<QByteArray>{""});
    QCOMPARE(panel.texts(Target::Rxd, 1100, 1100), QList<QByteArray>{""});
    QCOMPARE(panel.texts(Target::Status, 1100, 1100), QList<QByteArray>{""});
    QVERIFY(!panel.timer4.enabled());

    panel.at(10'000);
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QVERIFY(panel.texts(Target::Rxd, 0, 10'000).indexOf(" X X X X") < 0);
}

void TestHoldEngine::releaseAfterDisplayTimeoutFiredBlanksAgain1000msLater()
{
    // The display time-out of the last frame has fired and stopped: the release starts it.
    Panel panel;
    panel.press("Command1");
    panel.at(248);
    QVERIFY(!panel.timer4.enabled());
    panel.release("Command1");
    QVERIFY(panel.timer4.enabled());
    QCOMPARE(panel.timer4.interval(), 1000);
    panel.displays.setStatus(" Power ON");
    panel.at(1247);
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    panel.at(1248);
    QVERIFY(panel.displays.status.empty());
    QCOMPARE(panel.texts(Target::Txd, 1248, 1248), QList<QByteArray>{""});
    QVERIFY(!panel.timer4.enabled());
}

void TestHoldEngine::holdingVolPlusSendsAtPressAndEvery250ms()
{
    Panel panel;
    panel.press("Command1");
    QCOMPARE(panel.timer1.interval(), 250);
    QCOMPARE(panel.timer2.interval(), 200);
    QCOMPARE(panel.timer4.interval(), 245);
    panel.at(1000);
    panel.release("Command1");
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 250, 500, 750, 1000}));
    QCOMPARE(panel.frames(), QList<QByteArray>(5, "C09\r"));
    // Each frame is shown, then marked unanswered at +200 and blanked at +245.
    const QByteArray shown(" C 0 9 CR ");
    QCOMPARE(panel.texts(Target::Txd, 0, 999),
             (QList<QByteArray>{shown, "", shown, "", shown, "", shown, ""}));
    QCOMPARE(panel.texts(Target::Rxd, 0, 999),
             (QList<QByteArray>{" X X X X", "", " X X X X", "", " X X X X", "", " X X X X", ""}));
    QCOMPARE(panel.displays.changesOf(Target::Rxd).at(0).at, std::int64_t(200));
    QCOMPARE(panel.displays.changesOf(Target::Rxd).at(1).at, std::int64_t(245));
    panel.at(5000);
    QCOMPARE(panel.sendTimes().size(), 5);
}

void TestHoldEngine::zoomMinusRepeatsEvery50msAndReleaseRestoresTimeoutIntervals()
{
    Panel panel;
    panel.press("Command35");
    QCOMPARE(panel.timer1.interval(), 50);
    QCOMPARE(panel.timer2.interval(), 25);
    QCOMPARE(panel.timer4.interval(), 25);
    panel.at(500);
    QCOMPARE(panel.sendTimes(), every(0, 500, 50));
    QCOMPARE(panel.frames(), QList<QByteArray>(11, "C46\r"));
    // Both time-outs fall due at +25, the reply time-out first: the mark, then the blanking.
    QCOMPARE(panel.texts(Target::Rxd, 25, 25), (QList<QByteArray>{" X X X X", ""}));
    QCOMPARE(panel.texts(Target::Txd, 25, 50), (QList<QByteArray>{"", " C 4 6 CR "}));

    panel.at(510);
    panel.release("Command35");
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QCOMPARE(panel.timer1.interval(), 50);  // the repeat interval is not restored
    QVERIFY(!panel.timer1.enabled());
    QVERIFY(!panel.timer2.enabled());
    QVERIFY(panel.timer4.enabled());
    panel.at(5000);
    QCOMPARE(panel.sendTimes().size(), 11);
}

void TestHoldEngine::everyHoldButtonRepeatsItsOwnCommand_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("heldKey");
    QTest::addColumn<int>("repeatMs");
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<int>("displayMs");
    // Arrows right after start-up: 200 ms, time-outs as they were.
    QTest::newRow("VOL +") << "Command1" << 1 << 250 << 200 << 245;
    QTest::newRow("VOL -") << "Command2" << 2 << 250 << 200 << 245;
    QTest::newRow("arrow up") << "Command5" << 3 << 200 << 500 << 1000;
    QTest::newRow("arrow down") << "Command7" << 4 << 200 << 500 << 1000;
    QTest::newRow("arrow left") << "Command9" << 5 << 200 << 500 << 1000;
    QTest::newRow("arrow right") << "Command8" << 6 << 200 << 500 << 1000;
    QTest::newRow("Zoom +") << "Command15" << 7 << 50 << 25 << 25;
    QTest::newRow("Zoom -") << "Command35" << 8 << 50 << 25 << 25;
    QTest::newRow("Focus +") << "Command36" << 9 << 50 << 25 << 25;
    QTest::newRow("Focus -") << "Command37" << 10 << 50 << 25 << 25;
    QTest::newRow("SELECT") << "Command6" << 13 << 500 << 200 << 245;
    QTest::newRow("D.Zoom +") << "Command48" << 17 << 250 << 200 << 245;
    QTest::newRow("D.Zoom -") << "Command49" << 18 << 250 << 200 << 245;
    QTest::newRow("Keystone +") << "Command50" << 19 << 250 << 200 << 245;
    QTest::newRow("Keystone -") << "Command51" << 20 << 250 << 200 << 245;
    QTest::newRow("LENS SHIFT up") << "Command59" << 21 << 50 << 25 << 25;
    QTest::newRow("LENS SHIFT down") << "Command62" << 22 << 50 << 25 << 25;
}

void TestHoldEngine::everyHoldButtonRepeatsItsOwnCommand()
{
    QFETCH(QString, control);
    QFETCH(int, heldKey);
    QFETCH(int, repeatMs);
    QFETCH(int, replyMs);
    QFETCH(int, displayMs);
    const std::string name = control.toStdString();
    const QByteArray frame = qb(holdCommand(name) + "\r");
    Panel panel;
    panel.select("SINGLE");
    panel.press(name);
    QCOMPARE(int(panel.engine.heldKey()), heldKey);
    QVERIFY(panel.timer1.enabled());
    QCOMPARE(panel.timer1.interval(), repeatMs);
    QCOMPARE(panel.timer2.interval(), replyMs);
    QCOMPARE(panel.timer4.interval(), displayMs);
    panel.at(3 * repeatMs);
    QCOMPARE(panel.sendTimes(), every(0, 3 * repeatMs, repeatMs));
    QCOMPARE(panel.frames(), QList<QByteArray>(4, frame));
    QCOMPARE(qb(panel.sender.lastCommand()), frame);
    QCOMPARE(int(panel.engine.heldKey()), heldKey);

    panel.release(name);
    const bool select = name == "Command6";
    const bool digitalZoom = name == "Command48" || name == "Command49";
    QCOMPARE(int(panel.engine.heldKey()), select ? 14 : 0);
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QCOMPARE(panel.timer1.interval(), digitalZoom ? 5 : repeatMs);
    QCOMPARE(int(panel.engine.arrowMode()), digitalZoom ? 3 : 0);
    QVERIFY(panel.displays.txd.empty());
    QVERIFY(panel.displays.rxd.empty());
    panel.at(10'000);
    QCOMPARE(panel.sendTimes().size(), 4);
}

void TestHoldEngine::arrowAfterStartUpRepeatsEvery200msWithTimeoutsUntouched()
{
    Panel panel;
    panel.press("Command5");
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    panel.at(1000);
    QCOMPARE(panel.sendTimes(), every(0, 1000, 200));
    for (const QByteArray &frame : panel.frames())
        QCOMPARE(hex(frame.toStdString()), QByteArray("43 33 43 0D"));
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QCOMPARE(panel.timer1.interval(), 200);
    panel.release("Command5");
    QCOMPARE(panel.timer1.interval(), 200);
    QCOMPARE(int(panel.engine.arrowMode()), 0);
}

void TestHoldEngine::arrowAfterMenuOnRepeatsEvery200msWithTimeouts150And190_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::newRow("MENU ON") << "Command23";
    QTest::newRow("A-IMAGE") << "Command13";
}

void TestHoldEngine::arrowAfterMenuOnRepeatsEvery200msWithTimeouts150And190()
{
    QFETCH(QString, setUp);
    Panel panel;
    // A SELECT hold leaves 500 ms behind, which the set-up click replaces with 200.
    panel.press("Command6");
    panel.at(100);
    panel.release("Command6");
    panel.at(1000);
    panel.click(setUp.toStdString());
    QCOMPARE(int(panel.engine.arrowMode()), 1);
    QCOMPARE(panel.timer1.interval(), 200);
    QVERIFY(!panel.timer1.enabled());

    panel.at(3000);
    panel.press("Command7");
    QCOMPARE(panel.timer2.interval(), 150);
    QCOMPARE(panel.timer4.interval(), 190);
    panel.at(3600);
    QCOMPARE(panel.sendTimes(3000), every(3000, 3600, 200));
    QCOMPARE(panel.frames(3000), QList<QByteArray>(4, "C3D\r"));
    // Both time-outs have fired before the next frame goes out.
    QCOMPARE(panel.texts(Target::Rxd, 3000, 3199), (QList<QByteArray>{" X X X X", ""}));
    QCOMPARE(panel.displays.changesOf(Target::Rxd).back().at, std::int64_t(3590));
    panel.release("Command7");
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QCOMPARE(int(panel.engine.arrowMode()), 1);
    QCOMPARE(panel.timer1.interval(), 200);
}

void TestHoldEngine::arrowAfterDigitalZoomReleaseRepeatsEvery5ms_data()
{
    QTest::addColumn<QString>("digitalZoom");
    QTest::newRow("D.Zoom +") << "Command48";
    QTest::newRow("D.Zoom -") << "Command49";
}

void TestHoldEngine::arrowAfterDigitalZoomReleaseRepeatsEvery5ms()
{
    QFETCH(QString, digitalZoom);
    Panel panel;
    panel.press(digitalZoom.toStdString());
    panel.at(10);
    panel.release(digitalZoom.toStdString());
    QCOMPARE(panel.timer1.interval(), 5);
    QCOMPARE(int(panel.engine.arrowMode()), 3);

    panel.at(2000);
    panel.press("Command9");
    QCOMPARE(panel.timer2.interval(), 5);
    QCOMPARE(panel.timer4.interval(), 5);
    panel.at(2050);
    QCOMPARE(panel.sendTimes(2000), every(2000, 2050, 5));
    QCOMPARE(panel.frames(2000), QList<QByteArray>(11, "C3B\r"));
    panel.release("Command9");
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QCOMPARE(panel.timer1.interval(), 5);
    QCOMPARE(int(panel.engine.arrowMode()), 3);
}

void TestHoldEngine::arrowModeThreeOutlivesHoldsOfOtherButtonsUntilMenuOn()
{
    Panel panel;
    panel.press("Command48");
    panel.release("Command48");
    panel.at(1000);
    panel.press("Command1");  // VOL +: repeat 250
    panel.at(1100);
    panel.release("Command1");
    QCOMPARE(int(panel.engine.arrowMode()), 3);

    panel.at(3000);
    panel.press("Command8");
    QCOMPARE(panel.timer2.interval(), 5);
    QCOMPARE(panel.timer4.interval(), 5);
    panel.at(3500);
    QCOMPARE(panel.sendTimes(3000), every(3000, 3500, 250));
    panel.release("Command8");

    panel.at(5000);
    panel.click("Command23");
    QCOMPARE(int(panel.engine.arrowMode()), 1);
    panel.at(7000);
    panel.press("Command8");
    QCOMPARE(panel.timer2.interval(), 150);
    QCOMPARE(panel.timer4.interval(), 190);
    panel.at(7400);
    QCOMPARE(panel.sendTimes(7000), every(7000, 7400, 200));
}

void TestHoldEngine::arrowAfterFocusHoldRepeatsEvery50ms()
{
    Panel panel;
    panel.press("Command36");
    panel.at(120);
    panel.release("Command36");
    panel.at(2000);
    panel.press("Command5");
    // arrowMode is still 0: the time-outs are the ones the release restored.
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    panel.at(2200);
    QCOMPARE(panel.sendTimes(2000), every(2000, 2200, 50));
    QCOMPARE(panel.frames(2000), QList<QByteArray>(5, "C3C\r"));
}

void TestHoldEngine::arrowAfterSelectHoldRepeatsEvery500ms()
{
    Panel panel;
    panel.press("Command6");
    panel.at(700);
    panel.release("Command6");
    panel.at(2000);
    panel.press("Command7");
    panel.at(3500);
    QCOMPARE(panel.sendTimes(2000), every(2000, 3500, 500));
    QCOMPARE(panel.frames(2000), QList<QByteArray>(4, "C3D\r"));
}

void TestHoldEngine::selectReleaseStoresFourteenAndNeverSendsC3e()
{
    Panel panel;
    panel.press("Command6");
    panel.at(1200);
    panel.release("Command6");
    QCOMPARE(int(panel.engine.heldKey()), 14);
    QVERIFY(!panel.timer1.enabled());
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 500, 1000}));
    panel.at(20'000);
    QCOMPARE(panel.sendTimes().size(), 3);

    // The next press stores its own code before the repeat timer starts.
    panel.press("Command1");
    panel.at(20'600);
    panel.release("Command1");
    QCOMPARE(panel.frames(20'000), QList<QByteArray>(3, "C09\r"));
    for (const std::string &frame : panel.comm.written)
        QVERIFY2(frame.find("C3E") == std::string::npos, frame.c_str());
}

void TestHoldEngine::pjSelectChangeBetweenHoldsChangesEveryFrameOfTheSecond()
{
    Panel panel;
    panel.press("Command1");
    panel.at(300);
    panel.release("Command1");
    panel.select("ALL");
    panel.at(1000);
    panel.press("Command1");
    panel.at(1600);
    panel.release("Command1");
    QCOMPARE(panel.frames(),
             (QList<QByteArray>{"C09\r", "C09\r", "AFFFC09\r", "AFFFC09\r", "AFFFC09\r"}));
}

void TestHoldEngine::pjSelectChangeDuringHoldChangesTheNextRepetition()
{
    Panel panel;
    panel.select("001");
    panel.press("Command2");
    panel.at(100);
    panel.select("004");
    panel.at(400);
    panel.select("SINGLE");
    panel.at(750);
    panel.release("Command2");
    QCOMPARE(panel.frames(), (QList<QByteArray>{"A001C0A\r", "A004C0A\r", "C0A\r", "C0A\r"}));
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 250, 500, 750}));
}

void TestHoldEngine::keystoneUnderAllAndArrowUnderSingleSendTheirBytes()
{
    Panel panel;
    panel.select("ALL");
    panel.press("Command50");
    panel.at(500);
    panel.release("Command50");
    QCOMPARE(panel.comm.written.size(), std::size_t(3));
    for (const std::string &frame : panel.comm.written)
        QCOMPARE(hex(frame), QByteArray("41 46 46 46 43 38 45 0D"));

    panel.select("SINGLE");
    panel.at(2000);
    panel.press("Command5");
    panel.at(2500);  // at the 250 ms the Keystone hold left behind
    panel.release("Command5");
    QCOMPARE(panel.comm.written.size(), std::size_t(6));
    for (std::size_t i = 3; i < 6; ++i)
        QCOMPARE(hex(panel.comm.written[i]), QByteArray("43 33 43 0D"));
}

void TestHoldEngine::releaseWithNothingHeldStillBlanksAndRestores_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("heldKeyAfter");
    QTest::addColumn<int>("repeatAfter");
    QTest::addColumn<int>("arrowModeAfter");
    QTest::newRow("VOL +") << "Command1" << 0 << 200 << 0;
    QTest::newRow("arrow up") << "Command5" << 0 << 200 << 0;
    QTest::newRow("D.Zoom +") << "Command48" << 0 << 5 << 3;
    QTest::newRow("D.Zoom -") << "Command49" << 0 << 5 << 3;
    QTest::newRow("SELECT") << "Command6" << 14 << 200 << 0;
}

void TestHoldEngine::releaseWithNothingHeldStillBlanksAndRestores()
{
    QFETCH(QString, control);
    QFETCH(int, heldKeyAfter);
    QFETCH(int, repeatAfter);
    QFETCH(int, arrowModeAfter);
    Panel panel;
    panel.click("Command44");  // CR0 at 0
    panel.comm.receive("0");
    panel.displays.setStatus(" Power ON");
    panel.at(100);
    panel.release(control.toStdString());

    QCOMPARE(panel.comm.written.size(), std::size_t(1));
    QVERIFY(panel.displays.txd.empty());
    QVERIFY(panel.displays.rxd.empty());
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    QVERIFY(panel.monitor.rxBuffer().empty());
    QCOMPARE(panel.timer2.interval(), 500);
    QCOMPARE(panel.timer4.interval(), 1000);
    QVERIFY(!panel.timer2.enabled());
    QVERIFY(panel.timer4.enabled());
    QVERIFY(!panel.timer1.enabled());
    QCOMPARE(int(panel.engine.heldKey()), heldKeyAfter);
    QCOMPARE(panel.timer1.interval(), repeatAfter);
    QCOMPARE(int(panel.engine.arrowMode()), arrowModeAfter);
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("CR0\r"));

    panel.at(1099);
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    panel.at(1100);
    QVERIFY(panel.displays.status.empty());
    panel.at(10'000);
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
}

void TestHoldEngine::unansweredLastRepetitionGetsNoTimeoutMark()
{
    Panel panel;
    panel.press("Command1");
    panel.at(300);  // the repetition at 250 is still unanswered
    panel.release("Command1");
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    panel.at(5000);
    QCOMPARE(panel.texts(Target::Rxd, 300, 5000), (QList<QByteArray>{"", ""}));
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);

    // The flag returns to 0 at the reply time-out that follows the next send.
    panel.click("Command17");
    panel.at(5499);
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    panel.at(5500);
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" X X X X"));
}

void TestHoldEngine::answeredRepetitionsGetNoTimeoutMark()
{
    Panel panel;
    panel.press("Command50");
    for (std::int64_t frame = 0; frame <= 750; frame += 250) {
        panel.at(frame + 20);
        panel.comm.receive("\x06");
        QCOMPARE(qb(panel.displays.rxd), QByteArray(" &"));
    }
    panel.at(999);
    panel.release("Command50");
    QCOMPARE(panel.texts(Target::Rxd, 0, 999).indexOf(" X X X X"), qsizetype(-1));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
}

void TestHoldEngine::replyAfterReleaseStartsFromEmptyBuffer()
{
    Panel panel;
    panel.press("Command1");
    panel.at(100);
    panel.comm.receive("0");
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("0"));
    panel.at(150);
    panel.release("Command1");
    QVERIFY(panel.monitor.rxBuffer().empty());
    panel.at(300);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 0);
    panel.at(1149);
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    panel.at(1150);
    QVERIFY(panel.displays.rxd.empty());
}

void TestHoldEngine::secondPressOnHeldButtonSendsAtOnceAndStartsFullInterval()
{
    Panel panel;
    panel.press("Command1");
    panel.at(200);
    panel.press("Command1");  // a second mouse button on the held button
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 200}));
    panel.at(700);
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 200, 450, 700}));
    QCOMPARE(panel.frames(), QList<QByteArray>(4, "C09\r"));
    panel.release("Command1");
    panel.at(2000);
    QCOMPARE(panel.sendTimes().size(), 4);
}

void TestHoldEngine::secondPressOnHeldArrowSendsAtOnceAndLetsIntervalRunOn()
{
    // An arrow press only enables the running repeat timer, which runs on.
    Panel panel;
    panel.press("Command5");
    panel.at(150);
    panel.press("Command5");
    panel.at(400);
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 150, 200, 400}));
}

void TestHoldEngine::clicksRepliesAndTimeoutsDoNotStopRepetition()
{
    Panel panel;
    panel.press("Command1");
    panel.at(100);
    panel.click("Command17");
    panel.at(120);
    panel.comm.receive("\x06\r");
    panel.at(130);
    panel.click("Command44");
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("CR0\r"));
    panel.at(760);
    QCOMPARE(panel.frames(),
             (QList<QByteArray>{"C09\r", "C00\r", "CR0\r", "C09\r", "C09\r", "C09\r"}));
    QCOMPARE(panel.sendTimes(), (QList<qint64>{0, 100, 130, 250, 500, 750}));
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("C09\r"));
    QCOMPARE(int(panel.engine.heldKey()), 1);
}

void TestHoldEngine::randomSessionsSendOnlyWellFormedFramesAndOnlyWhileHeld()
{
    const std::array<std::string_view, 6> prefixes{"", "AFFF", "A001", "A002", "A003", "A004"};
    for (unsigned seed = 1; seed <= 200; ++seed) {
        Panel panel;
        std::mt19937 random(seed);
        auto chance = [&](int percent) {
            return std::uniform_int_distribution<int>(0, 99)(random) < percent;
        };
        auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };

        enum class Step { Advance, Press, Release, Click, Select, Receive };
        Step step = Step::Advance;
        std::string prefix;                   // the prefix the test last selected
        const HoldButton *down = nullptr;     // the hold button down, if any
        std::string expected;                 // the frame a press or click must send
        std::vector<std::int64_t> tickTimes;  // frames of the current advance
        std::string failure;
        panel.onSend = [&](const std::string &frame) {
            if (!failure.empty())
                return;
            const bool framed = frame.size() == prefix.size() + 4 && frame.starts_with(prefix) &&
                                frame.back() == '\r' && isKnownCode(frame.substr(prefix.size(), 3));
            if (!framed)
                failure = "ill-formed frame " + hex(frame).toStdString();
            else if (step == Step::Advance && !down)
                failure = "frame sent by a tick with nothing held: " + frame;
            else if (step == Step::Advance && frame != prefix + holdCommand(down->control) + "\r")
                failure = "tick sent another command than the held one: " + frame;
            else if (step == Step::Release || step == Step::Select || step == Step::Receive)
                failure = "frame sent outside a press, click or tick: " + frame;
            else if ((step == Step::Press || step == Step::Click) && frame != expected)
                failure = "sent " + frame + " instead of " + expected;
            if (step == Step::Advance)
                tickTimes.push_back(panel.clock.nowMs());
        };

        for (int action = 0; action < 150 && failure.empty(); ++action) {
            const std::size_t before = panel.sent.size();
            if (chance(down ? 55 : 40)) {
                step = Step::Advance;
                std::int64_t elapsed = 0;
                if (chance(40))
                    elapsed = std::uniform_int_distribution<int>(0, 12)(random);
                else if (chance(85))
                    elapsed = std::uniform_int_distribution<int>(13, 700)(random);
                else
                    elapsed = std::uniform_int_distribution<int>(701, 3000)(random);
                const int repeat = panel.timer1.interval();
                tickTimes.clear();
                panel.clock.advance(elapsed);
                const auto ticks = std::int64_t(panel.sent.size() - before);
                if (down && repeat > 0) {
                    // One tick per repeat interval, give or take the one in progress.
                    if (ticks != elapsed / repeat && ticks != elapsed / repeat + 1)
                        failure = std::to_string(ticks) + " ticks in " + std::to_string(elapsed) +
                                  " ms at " + std::to_string(repeat);
                    for (std::size_t i = 1; i < tickTimes.size() && failure.empty(); ++i) {
                        if (tickTimes[i] - tickTimes[i - 1] != repeat)
                            failure = "uneven repetition";
                    }
                } else if (ticks != 0) {
                    failure = "frames sent while nothing was held";
                }
            } else if (!down && chance(45)) {
                step = Step::Press;
                down = &kHoldButtons[pick(kHoldButtons.size())];
                expected = prefix + holdCommand(down->control) + "\r";
                panel.core.press(*down);
                if (panel.sent.size() != before + 1)
                    failure = "a press sent " + std::to_string(panel.sent.size() - before);
            } else if (down && chance(8)) {
                step = Step::Press;  // a second mouse button on the held button
                expected = prefix + holdCommand(down->control) + "\r";
                panel.core.press(*down);
                if (panel.sent.size() != before + 1)
                    failure = "a second press sent " + std::to_string(panel.sent.size() - before);
            } else if (chance(down ? 40 : 10)) {
                step = Step::Release;
                const HoldButton &button = down ? *down : kHoldButtons[pick(kHoldButtons.size())];
                panel.core.release(button);
                down = nullptr;
                const int heldKey = panel.engine.heldKey();
                if (heldKey != (button.control == "Command6" ? 14 : 0))
                    failure = "heldKey " + std::to_string(heldKey) + " after a release";
                if (panel.timer2.interval() != 500 || panel.timer4.interval() != 1000)
                    failure = "time-outs not restored by a release";
                if (panel.timer1.enabled())
                    failure = "repeat timer still running after a release";
            } else if (chance(50)) {
                step = Step::Click;
                const OneShotButton &button = kOneShotButtons[pick(kOneShotButtons.size())];
                expected = prefix + std::string(button.code) + "\r";
                panel.core.click(button);
                if (panel.sent.size() != before + 1)
                    failure = "a click sent " + std::to_string(panel.sent.size() - before);
            } else if (chance(70)) {
                step = Step::Select;
                const AddressOption &option = kAddressOptions[pick(kAddressOptions.size())];
                prefix = std::string(option.idPrefix);
                QVERIFY(prefix == prefixes[std::size_t(&option - kAddressOptions.data())]);
                panel.core.selectAddress(option);
            } else {
                step = Step::Receive;
                panel.comm.receive(chance(50) ? "00\r" : "\x06");
            }
            if (failure.empty() && step != Step::Advance && step != Step::Press &&
                step != Step::Click && panel.sent.size() != before)
                failure = "frame sent by a step that sends nothing";
        }
        QVERIFY2(failure.empty(),
                 qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(failure.c_str())));
    }
}

void TestHoldEngine::holdWithNoReleaseStopsAfterSixtySeconds()
{
    Panel panel;
    int stops = 0;
    panel.core.setOnHoldSafetyStop([&stops] { ++stops; });
    panel.press("Command1");
    panel.at(30000);
    // A second press (another mouse button) starts the full time afresh.
    panel.press("Command1");
    panel.at(30000 + HoldEngine::kSafetyStopMs - 1);
    QVERIFY(panel.timer1.enabled());
    QCOMPARE(stops, 0);
    panel.at(30000 + HoldEngine::kSafetyStopMs);
    QVERIFY(!panel.timer1.enabled());
    QCOMPARE(int(panel.engine.heldKey()), 0);
    QCOMPARE(stops, 1);
    // The release steps ran: TXD blank, the normal time-outs back.
    QVERIFY(panel.displays.txd.empty());
    QCOMPARE(panel.timer2.interval(), kNormalReplyTimeoutMs);
    const std::size_t sent = panel.sent.size();
    panel.at(200000);
    QCOMPARE(panel.sent.size(), sent);
    // A hold released in time is never stopped later.
    panel.press("Command1");
    panel.release("Command1");
    panel.at(400000);
    QCOMPARE(stops, 1);
}

QTEST_APPLESS_MAIN(TestHoldEngine)
#include "tst_holdengine.moc"
