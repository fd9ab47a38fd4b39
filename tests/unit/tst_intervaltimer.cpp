#include <QtTest>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/panel/intervaltimer.h"
#include "support/virtualclock.h"

// The clock's timer calls back into the timer it was made for: a moved timer would leave it
// calling into the old place.
static_assert(!std::is_move_constructible_v<IntervalTimer> &&
              !std::is_move_assignable_v<IntervalTimer>);

namespace {

using Times = std::vector<std::int64_t>;

// A timer that notes the virtual time of each of its ticks.
struct TickingTimer {
    TickingTimer(VirtualClock &clock, int intervalMs) : timer(clock, intervalMs)
    {
        timer.setOnTick([this, &clock] { ticks.push_back(clock.nowMs()); });
    }
    IntervalTimer timer;
    Times ticks;
};

QList<qint64> toList(const Times &times)
{
    return QList<qint64>(times.begin(), times.end());
}

}  // namespace

class TestIntervalTimer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsDisabledWithItsDesignInterval();
    void disabledTimerNeverTicks();
    void enablingStoppedTimerStartsFullInterval();
    void ticksEveryIntervalWhileEnabled_data();
    void ticksEveryIntervalWhileEnabled();
    void smallStepsFireTheSameTicksAsOneLargeStep();
    void newIntervalOnRunningTimerStartsFullIntervalOfNewLength();
    void sameIntervalGivenAgainRestartsRunningTimer();
    void newIntervalOnStoppedTimerDoesNotStartIt();
    void disablingDropsIntervalInProgress();
    void disablingStoppedTimerChangesNothing();
    void enablingRunningTimerLetsIntervalInProgressRunOn();
    void intervalZeroRaisesNoTicks();
    void intervalZeroOnRunningTimerStopsTicksUntilNewInterval();
    void ticksOfSeveralTimersFireInTimeOrder();
    void tiesFireInTheOrderTheTimersWereStarted();
    void tickThatDisablesAnotherTimerDueAtSameTimeSuppressesIt();
    void tickThatEnablesAnotherTimerLetsItTickWithinSameAdvance();
    void tickThatRestartsAnotherTimerMovesItsNextTick();
    void tickThatDisablesItsOwnTimerFiresOnce();
    void tickThatGivesItsOwnTimerNewIntervalContinuesAtNewLength();
    void tickWithoutHandlerIsHarmless();
    void nextDueInReportsTimeToNextTick();
};

void TestIntervalTimer::startsDisabledWithItsDesignInterval()
{
    VirtualClock clock;
    IntervalTimer timer(clock, 500);
    QVERIFY(!timer.enabled());
    QCOMPARE(timer.interval(), 500);
    QCOMPARE(clock.nextDueIn(), std::int64_t(-1));
}

void TestIntervalTimer::disabledTimerNeverTicks()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    clock.advance(10'000);
    QVERIFY(t.ticks.empty());
}

void TestIntervalTimer::enablingStoppedTimerStartsFullInterval()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    clock.advance(30);
    t.timer.setEnabled(true);
    QVERIFY(t.timer.enabled());
    clock.advance(99);
    QVERIFY(t.ticks.empty());
    clock.advance(1);
    QCOMPARE(toList(t.ticks), (QList<qint64>{130}));
    clock.advance(200);
    QCOMPARE(toList(t.ticks), (QList<qint64>{130, 230, 330}));
}

void TestIntervalTimer::ticksEveryIntervalWhileEnabled_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<int>("expectedTicks");
    QTest::newRow("5 ms for 100 ms") << 5 << 100 << 20;
    QTest::newRow("25 ms for 1000 ms") << 25 << 1000 << 40;
    QTest::newRow("50 ms for 1000 ms") << 50 << 1000 << 20;
    QTest::newRow("200 ms for 999 ms") << 200 << 999 << 4;
    QTest::newRow("250 ms for 1000 ms") << 250 << 1000 << 4;
    QTest::newRow("500 ms for 499 ms") << 500 << 499 << 0;
    QTest::newRow("1000 ms for 5000 ms") << 1000 << 5000 << 5;
    QTest::newRow("1 ms for 37 ms") << 1 << 37 << 37;
}

void TestIntervalTimer::ticksEveryIntervalWhileEnabled()
{
    QFETCH(int, interval);
    QFETCH(int, elapsed);
    QFETCH(int, expectedTicks);
    VirtualClock clock;
    TickingTimer t(clock, interval);
    t.timer.setEnabled(true);
    clock.advance(elapsed);
    QCOMPARE(int(t.ticks.size()), expectedTicks);
    for (std::size_t i = 0; i < t.ticks.size(); ++i)
        QCOMPARE(t.ticks[i], std::int64_t(interval) * std::int64_t(i + 1));
    QCOMPARE(clock.nowMs(), std::int64_t(elapsed));
}

void TestIntervalTimer::smallStepsFireTheSameTicksAsOneLargeStep()
{
    VirtualClock stepped;
    VirtualClock jumped;
    TickingTimer a(stepped, 70);
    TickingTimer b(jumped, 70);
    a.timer.setEnabled(true);
    b.timer.setEnabled(true);
    for (int i = 0; i < 1000; ++i)
        stepped.advance(1);
    jumped.advance(1000);
    QCOMPARE(toList(a.ticks), toList(b.ticks));
    QCOMPARE(a.ticks.size(), std::size_t(14));
}

void TestIntervalTimer::newIntervalOnRunningTimerStartsFullIntervalOfNewLength()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setEnabled(true);
    clock.advance(70);
    t.timer.setInterval(50);
    QCOMPARE(t.timer.interval(), 50);
    clock.advance(49);
    QVERIFY(t.ticks.empty());  // 100 has passed: the old interval was dropped
    clock.advance(51);
    QCOMPARE(toList(t.ticks), (QList<qint64>{120, 170}));

    // Longer as well as shorter.
    t.timer.setInterval(300);
    clock.advance(299);
    QCOMPARE(toList(t.ticks), (QList<qint64>{120, 170}));
    clock.advance(1);
    QCOMPARE(toList(t.ticks), (QList<qint64>{120, 170, 470}));
}

void TestIntervalTimer::sameIntervalGivenAgainRestartsRunningTimer()
{
    // A second press on a held button sets the repeat interval it already has and expects the
    // interval to start in full.
    VirtualClock clock;
    TickingTimer t(clock, 250);
    t.timer.setEnabled(true);
    clock.advance(200);
    t.timer.setInterval(250);
    clock.advance(249);
    QVERIFY(t.ticks.empty());
    clock.advance(1);
    QCOMPARE(toList(t.ticks), (QList<qint64>{450}));
}

void TestIntervalTimer::newIntervalOnStoppedTimerDoesNotStartIt()
{
    VirtualClock clock;
    TickingTimer t(clock, 500);
    t.timer.setInterval(25);
    QVERIFY(!t.timer.enabled());
    QCOMPARE(t.timer.interval(), 25);
    clock.advance(1000);
    QVERIFY(t.ticks.empty());
    t.timer.setEnabled(true);
    clock.advance(60);
    QCOMPARE(toList(t.ticks), (QList<qint64>{1025, 1050}));
}

void TestIntervalTimer::disablingDropsIntervalInProgress()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setEnabled(true);
    clock.advance(60);
    t.timer.setEnabled(false);
    QVERIFY(!t.timer.enabled());
    clock.advance(20);
    t.timer.setEnabled(true);
    clock.advance(99);  // to 179: neither 100 (the dropped interval) nor later
    QVERIFY(t.ticks.empty());
    clock.advance(1);
    QCOMPARE(toList(t.ticks), (QList<qint64>{180}));
}

void TestIntervalTimer::disablingStoppedTimerChangesNothing()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setEnabled(false);
    clock.advance(500);
    QVERIFY(t.ticks.empty());
    QVERIFY(!t.timer.enabled());
    t.timer.setEnabled(true);
    clock.advance(100);
    QCOMPARE(toList(t.ticks), (QList<qint64>{600}));
}

void TestIntervalTimer::enablingRunningTimerLetsIntervalInProgressRunOn()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setEnabled(true);
    clock.advance(60);
    t.timer.setEnabled(true);
    clock.advance(40);
    QCOMPARE(toList(t.ticks), (QList<qint64>{100}));
    clock.advance(50);
    t.timer.setEnabled(true);
    clock.advance(50);
    QCOMPARE(toList(t.ticks), (QList<qint64>{100, 200}));
}

void TestIntervalTimer::intervalZeroRaisesNoTicks()
{
    VirtualClock clock;
    TickingTimer t(clock, 0);
    t.timer.setEnabled(true);
    QVERIFY(t.timer.enabled());
    QCOMPARE(clock.nextDueIn(), std::int64_t(-1));
    clock.advance(10'000);
    QVERIFY(t.ticks.empty());
    // An interval given later starts a full interval from then.
    t.timer.setInterval(40);
    clock.advance(100);
    QCOMPARE(toList(t.ticks), (QList<qint64>{10'040, 10'080}));
}

void TestIntervalTimer::intervalZeroOnRunningTimerStopsTicksUntilNewInterval()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setEnabled(true);
    clock.advance(150);
    t.timer.setInterval(0);
    QVERIFY(t.timer.enabled());
    clock.advance(1000);
    QCOMPARE(toList(t.ticks), (QList<qint64>{100}));
    t.timer.setInterval(100);
    clock.advance(100);
    QCOMPARE(toList(t.ticks), (QList<qint64>{100, 1250}));
}

void TestIntervalTimer::ticksOfSeveralTimersFireInTimeOrder()
{
    VirtualClock clock;
    std::vector<std::pair<std::int64_t, std::string>> fired;
    IntervalTimer a(clock, 30);
    IntervalTimer b(clock, 70);
    IntervalTimer c(clock, 45);
    a.setOnTick([&] { fired.emplace_back(clock.nowMs(), "a"); });
    b.setOnTick([&] { fired.emplace_back(clock.nowMs(), "b"); });
    c.setOnTick([&] { fired.emplace_back(clock.nowMs(), "c"); });
    a.setEnabled(true);
    b.setEnabled(true);
    c.setEnabled(true);
    clock.advance(100);  // one step covering all of them
    const std::vector<std::pair<std::int64_t, std::string>> expected{
        {30, "a"}, {45, "c"}, {60, "a"}, {70, "b"}, {90, "a"}, {90, "c"}};
    QCOMPARE(fired.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(fired[i].first, expected[i].first);
        QCOMPARE(QString::fromStdString(fired[i].second),
                 QString::fromStdString(expected[i].second));
    }
    QCOMPARE(clock.nowMs(), std::int64_t(100));
}

void TestIntervalTimer::tiesFireInTheOrderTheTimersWereStarted()
{
    // Started c, a, b: all due at 50, they fire in that order, whatever their creation order.
    VirtualClock clock;
    std::string order;
    IntervalTimer a(clock, 50);
    IntervalTimer b(clock, 50);
    IntervalTimer c(clock, 50);
    a.setOnTick([&] { order += 'a'; });
    b.setOnTick([&] { order += 'b'; });
    c.setOnTick([&] { order += 'c'; });
    c.setEnabled(true);
    a.setEnabled(true);
    b.setEnabled(true);
    clock.advance(100);
    QCOMPARE(QString::fromStdString(order), QStringLiteral("cabcab"));
}

void TestIntervalTimer::tickThatDisablesAnotherTimerDueAtSameTimeSuppressesIt()
{
    VirtualClock clock;
    IntervalTimer first(clock, 100);
    TickingTimer second(clock, 100);
    first.setOnTick([&] { second.timer.setEnabled(false); });
    first.setEnabled(true);
    second.timer.setEnabled(true);
    clock.advance(1000);
    QVERIFY(second.ticks.empty());
}

void TestIntervalTimer::tickThatEnablesAnotherTimerLetsItTickWithinSameAdvance()
{
    VirtualClock clock;
    IntervalTimer starter(clock, 100);
    TickingTimer started(clock, 30);
    starter.setOnTick([&] {
        started.timer.setEnabled(true);
        starter.setEnabled(false);
    });
    starter.setEnabled(true);
    clock.advance(200);
    QCOMPARE(toList(started.ticks), (QList<qint64>{130, 160, 190}));
}

void TestIntervalTimer::tickThatRestartsAnotherTimerMovesItsNextTick()
{
    // The way each send restarts the reply time-out: a tick at 80 gives the other timer a new
    // interval, so its tick due at 100 never comes.
    VirtualClock clock;
    IntervalTimer restarter(clock, 80);
    TickingTimer restarted(clock, 100);
    restarter.setOnTick([&] {
        restarted.timer.setInterval(100);
        restarter.setEnabled(false);
    });
    restarted.timer.setEnabled(true);
    restarter.setEnabled(true);
    clock.advance(300);
    QCOMPARE(toList(restarted.ticks), (QList<qint64>{180, 280}));
}

void TestIntervalTimer::tickThatDisablesItsOwnTimerFiresOnce()
{
    VirtualClock clock;
    TickingTimer t(clock, 500);
    t.timer.setOnTick([&] {
        t.ticks.push_back(clock.nowMs());
        t.timer.setEnabled(false);
    });
    t.timer.setEnabled(true);
    clock.advance(5000);
    QCOMPARE(toList(t.ticks), (QList<qint64>{500}));
    QVERIFY(!t.timer.enabled());
    QCOMPARE(clock.nextDueIn(), std::int64_t(-1));
}

void TestIntervalTimer::tickThatGivesItsOwnTimerNewIntervalContinuesAtNewLength()
{
    VirtualClock clock;
    TickingTimer t(clock, 100);
    t.timer.setOnTick([&] {
        t.ticks.push_back(clock.nowMs());
        t.timer.setInterval(40);
    });
    t.timer.setEnabled(true);
    clock.advance(200);
    QCOMPARE(toList(t.ticks), (QList<qint64>{100, 140, 180}));
}

void TestIntervalTimer::tickWithoutHandlerIsHarmless()
{
    VirtualClock clock;
    IntervalTimer timer(clock, 10);
    timer.setEnabled(true);
    clock.advance(100);
    QVERIFY(timer.enabled());
    QCOMPARE(clock.nowMs(), std::int64_t(100));
}

void TestIntervalTimer::nextDueInReportsTimeToNextTick()
{
    VirtualClock clock;
    IntervalTimer slow(clock, 1000);
    IntervalTimer fast(clock, 250);
    slow.setEnabled(true);
    clock.advance(100);
    QCOMPARE(clock.nextDueIn(), std::int64_t(900));
    fast.setEnabled(true);
    QCOMPARE(clock.nextDueIn(), std::int64_t(250));
    fast.setEnabled(false);
    slow.setEnabled(false);
    QCOMPARE(clock.nextDueIn(), std::int64_t(-1));
}

QTEST_APPLESS_MAIN(TestIntervalTimer)
#include "tst_intervaltimer.moc"
