#include <QTest>
#include <string>

#include "core/protocol/frame.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"
#include "sim/core/projectormodel.h"

namespace {

// Steps as "<ms> <code>", taken in order; a row's state is whatever they leave behind.
void run(ProjectorModel &model, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QStringList fields = step.split(QLatin1Char(' '));
        model.take(fields.at(1).toStdString(), fields.at(0).toLongLong());
    }
}

std::string replyAt(ProjectorModel &model, std::string_view code, std::int64_t ms)
{
    return model.take(code, ms);
}

}  // namespace

class TestSimProjectorModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldAnswerEveryQueryForItsState_data();
    void shouldAnswerEveryQueryForItsState();
    void shouldAnswerInFormsThePanelDecodes_data();
    void shouldAnswerInFormsThePanelDecodes();
    void shouldCountDownThenBeOn();
    void shouldIgnorePowerOnWhileCountingDownOrCooling();
    void shouldCoolDownThenStandBy();
    void shouldCoolDownWhenSwitchedOffDuringCountDown();
    void shouldRunUpLampHoursOnlyWhileOn();
    void shouldWarmUpWhileOnAndCoolInStandBy();
    void shouldClearMutesWhenLeavingOn();
    void shouldAcknowledgeEveryOperationCodeThePanelSends();
    void shouldRefuseUnknownCodes_data();
    void shouldRefuseUnknownCodes();
};

void TestSimProjectorModel::shouldAnswerEveryQueryForItsState_data()
{
    QTest::addColumn<bool>("startOn");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("reply");

    const QStringList none;
    QTest::newRow("stand-by CR0") << false << none << "CR0" << QByteArray("80\r");
    QTest::newRow("stand-by CR1") << false << none << "CR1" << QByteArray("1\r");
    QTest::newRow("stand-by CR3") << false << none << "CR3" << QByteArray("01234\r");
    QTest::newRow("stand-by CR4") << false << none << "CR4" << QByteArray("11\r");
    QTest::newRow("stand-by CR6") << false << none << "CR6" << QByteArray(" 25.0  25.0\r");
    QTest::newRow("stand-by CR7") << false << none << "CR7" << QByteArray("00\r");
    QTest::newRow("stand-by CR9") << false << none << "CR9" << QByteArray("KORU-SIM 001\r");
    QTest::newRow("stand-by CRA") << false << none << "CRA" << QByteArray("FF\r");
    QTest::newRow("count down CR0") << false << QStringList{"0 C00"} << "CR0" << QByteArray("40\r");
    QTest::newRow("count down CR7") << false << QStringList{"0 C00"} << "CR7" << QByteArray("00\r");
    QTest::newRow("count down CRA") << false << QStringList{"0 C00"} << "CRA" << QByteArray("FF\r");
    QTest::newRow("on CR0") << true << none << "CR0" << QByteArray("00\r");
    QTest::newRow("on CR7 two lamps") << true << none << "CR7" << QByteArray("03\r");
    QTest::newRow("on CR7 half 1") << true << QStringList{"0 C71"} << "CR7" << QByteArray("11\r");
    QTest::newRow("on CR7 half 2") << true << QStringList{"0 C72"} << "CR7" << QByteArray("22\r");
    QTest::newRow("on CR7 back to two")
        << true << QStringList{"0 C72", "1 C70"} << "CR7" << QByteArray("03\r");
    QTest::newRow("stand-by CR7 half 2")
        << false << QStringList{"0 C72"} << "CR7" << QByteArray("20\r");
    QTest::newRow("on CRA no mute") << true << none << "CRA" << QByteArray("00\r");
    QTest::newRow("on CRA video mute")
        << true << QStringList{"0 C0D"} << "CRA" << QByteArray("01\r");
    QTest::newRow("on CRA audio mute")
        << true << QStringList{"0 C0B"} << "CRA" << QByteArray("02\r");
    QTest::newRow("on CRA both mutes")
        << true << QStringList{"0 C0B", "0 C0D"} << "CRA" << QByteArray("03\r");
    QTest::newRow("on CRA mutes off again")
        << true << QStringList{"0 C0B", "0 C0D", "1 C0C", "1 C0E"} << "CRA" << QByteArray("00\r");
    QTest::newRow("on CRA input without signal")
        << true << QStringList{"0 C07"} << "CRA" << QByteArray("80\r");
    QTest::newRow("stand-by CRA mute ignored")
        << false << QStringList{"0 C0D"} << "CRA" << QByteArray("FF\r");
    QTest::newRow("on CR1 input 2") << true << QStringList{"0 C06"} << "CR1" << QByteArray("2\r");
    QTest::newRow("on CR1 input 3") << true << QStringList{"0 C07"} << "CR1" << QByteArray("3\r");
    QTest::newRow("stand-by CR1 input 3")
        << false << QStringList{"0 C07"} << "CR1" << QByteArray("3\r");
    QTest::newRow("cooling CR0") << true << QStringList{"0 C01"} << "CR0" << QByteArray("20\r");
}

void TestSimProjectorModel::shouldAnswerEveryQueryForItsState()
{
    QFETCH(bool, startOn);
    QFETCH(QStringList, steps);
    QFETCH(QString, query);
    QFETCH(QByteArray, reply);
    ProjectorModel model({.startOn = startOn});
    run(model, steps);
    QCOMPARE(QByteArray::fromStdString(replyAt(model, query.toStdString(), 1)), reply);
}

// The replies go through the panel's own rendering and decoding, as on the real line.
void TestSimProjectorModel::shouldAnswerInFormsThePanelDecodes_data()
{
    QTest::addColumn<bool>("startOn");
    QTest::addColumn<int>("reversal");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("status");

    const int normal = static_cast<int>(Reversal::Normal);
    const QStringList none;
    QTest::newRow("power on") << true << normal << none << "CR0"
                              << " Power ON";
    QTest::newRow("stand-by") << false << normal << none << "CR0"
                              << " Stand by";
    QTest::newRow("count down") << false << normal << QStringList{"0 C00"} << "CR0"
                                << " Count down";
    QTest::newRow("cooling") << true << normal << QStringList{"0 C01"} << "CR0"
                             << " Cooling down";
    QTest::newRow("input 2") << true << normal << QStringList{"0 C06"} << "CR1"
                             << " Input 2";
    QTest::newRow("lamp hours") << false << normal << none << "CR3"
                                << " 0 1 2 3 4 CR  Hour Use";
    QTest::newRow("normal picture") << false << normal << none << "CR4"
                                    << " Normally";
    QTest::newRow("top/bottom") << false << static_cast<int>(Reversal::TopBottom) << none << "CR4"
                                << " Top/Bottom reversal";
    QTest::newRow("left/right") << false << static_cast<int>(Reversal::LeftRight) << none << "CR4"
                                << " Left/Right reversal";
    QTest::newRow("both reversals") << false << static_cast<int>(Reversal::Both) << none << "CR4"
                                    << " Top/Bottom , Left/Right reversal";
    QTest::newRow("temperatures") << false << normal << none << "CR6"
                                  << "  S1=   2 5 . 0 C  ,   S2=  2 5 . 0 C";
    QTest::newRow("two lamps lit") << true << normal << none << "CR7"
                                   << " No1,2 ON  : 2 Lamp mode";
    QTest::newRow("half 1 lit") << true << normal << QStringList{"0 C71"} << "CR7"
                                << " No1 ON  : Half Lamp mode-1";
    QTest::newRow("half 2 lit") << true << normal << QStringList{"0 C72"} << "CR7"
                                << " No2 ON  : Half Lamp mode-2";
    QTest::newRow("lamps off") << false << normal << none << "CR7"
                               << " All OFF : 2 Lamp mode";
    QTest::newRow("model") << false << normal << none << "CR9"
                           << " K O R U - S I M   0 0 1 CR ";
    QTest::newRow("no mute") << true << normal << none << "CRA"
                             << " Video & Audio mute OFF";
    QTest::newRow("video mute") << true << normal << QStringList{"0 C0D"} << "CRA"
                                << " Video mute ON";
    QTest::newRow("audio mute") << true << normal << QStringList{"0 C0B"} << "CRA"
                                << " Audio mute ON";
    QTest::newRow("both mutes") << true << normal << QStringList{"0 C0B", "0 C0D"} << "CRA"
                                << " Video & Audio mute ON";
    QTest::newRow("no signal") << true << normal << QStringList{"0 C07"} << "CRA"
                               << " No signal";
    QTest::newRow("mute query in stand-by") << false << normal << none << "CRA"
                                            << " Stand by";
}

void TestSimProjectorModel::shouldAnswerInFormsThePanelDecodes()
{
    QFETCH(bool, startOn);
    QFETCH(int, reversal);
    QFETCH(QStringList, steps);
    QFETCH(QString, query);
    QFETCH(QString, status);
    ProjectorModel model({.startOn = startOn, .reversal = static_cast<Reversal>(reversal)});
    run(model, steps);
    const std::string code = query.toStdString();
    const std::string rendered = renderTraffic(model.take(code, 1));
    const auto decoded = decodeStatus(rendered, buildFrame("", code), "");
    QVERIFY2(decoded.has_value(), rendered.c_str());
    QCOMPARE(QString::fromStdString(*decoded), status);
}

void TestSimProjectorModel::shouldCountDownThenBeOn()
{
    ProjectorModel model({.countDownMs = 5000});
    QCOMPARE(model.take("C00", 1000), std::string(kAckReply));
    QCOMPARE(model.take("CR0", 1001), std::string("40\r"));
    QCOMPARE(model.take("CR0", 5999), std::string("40\r"));
    QCOMPARE(model.litLamps(), 0);
    QCOMPARE(model.take("CR0", 6000), std::string("00\r"));
    QCOMPARE(model.power(), PowerState::On);
    QCOMPARE(model.litLamps(), 3);
}

void TestSimProjectorModel::shouldIgnorePowerOnWhileCountingDownOrCooling()
{
    ProjectorModel model({.countDownMs = 5000, .coolingMs = 10000});
    model.take("C00", 0);
    model.take("C00", 4000);  // does not restart the count down
    QCOMPARE(model.take("CR0", 5000), std::string("00\r"));
    model.take("C01", 6000);
    model.take("C00", 7000);  // the lamps must cool first
    QCOMPARE(model.take("CR0", 15999), std::string("20\r"));
    QCOMPARE(model.take("CR0", 16000), std::string("80\r"));
    model.take("C01", 17000);  // already in stand-by
    QCOMPARE(model.take("CR0", 17001), std::string("80\r"));
}

void TestSimProjectorModel::shouldCoolDownThenStandBy()
{
    ProjectorModel model({.coolingMs = 10000, .startOn = true});
    model.take("C01", 2000);
    QCOMPARE(model.power(), PowerState::Cooling);
    QCOMPARE(model.litLamps(), 0);
    QCOMPARE(model.take("CR0", 11999), std::string("20\r"));
    QCOMPARE(model.take("CR0", 12000), std::string("80\r"));
}

void TestSimProjectorModel::shouldCoolDownWhenSwitchedOffDuringCountDown()
{
    ProjectorModel model({.countDownMs = 5000, .coolingMs = 10000});
    model.take("C00", 0);
    model.take("C01", 2000);
    QCOMPARE(model.take("CR0", 6000), std::string("20\r"));
    QCOMPARE(model.take("CR0", 12000), std::string("80\r"));
}

void TestSimProjectorModel::shouldRunUpLampHoursOnlyWhileOn()
{
    ProjectorModel model({.lampHourMs = 60000, .initialLampHours = 10, .startOn = true});
    QCOMPARE(model.take("CR3", 0), std::string("00010\r"));
    QCOMPARE(model.take("CR3", 59999), std::string("00010\r"));
    // Time reaching the model in small steps adds up like one big step.
    for (std::int64_t ms = 60000; ms <= 180000; ms += 7)
        model.advanceTo(ms);
    QCOMPARE(model.take("CR3", 180000), std::string("00013\r"));
    model.take("C01", 180000);
    QCOMPARE(model.take("CR3", 10 * 60000), std::string("00013\r"));
}

void TestSimProjectorModel::shouldWarmUpWhileOnAndCoolInStandBy()
{
    ProjectorModel model({.coolingMs = 10000, .startOn = true});
    QCOMPARE(model.take("CR6", 0), std::string(" 25.0  25.0\r"));
    QCOMPARE(model.take("CR6", 10000), std::string(" 26.0  27.0\r"));
    QCOMPARE(model.take("CR6", 100000), std::string(" 35.0  45.0\r"));
    QCOMPARE(model.take("CR6", 1000000), std::string(" 38.5  52.0\r"));
    model.take("C01", 1000000);
    QCOMPARE(model.take("CR6", 1010000), std::string(" 37.5  51.0\r"));
    QCOMPARE(model.take("CR6", 5000000), std::string(" 25.0  25.0\r"));
}

void TestSimProjectorModel::shouldClearMutesWhenLeavingOn()
{
    ProjectorModel model({.countDownMs = 0, .coolingMs = 0, .startOn = true});
    model.take("C0B", 0);
    model.take("C0D", 0);
    model.take("C43", 0);
    QVERIFY(model.frozen());
    model.take("C01", 1);
    model.take("C00", 2);
    QCOMPARE(model.take("CRA", 3), std::string("00\r"));
    QVERIFY(!model.frozen());
}

void TestSimProjectorModel::shouldAcknowledgeEveryOperationCodeThePanelSends()
{
    ProjectorModel model({.startOn = true});
    for (const OneShotButton &button : kOneShotButtons) {
        if (!button.code.starts_with("CR"))
            QCOMPARE(model.take(button.code, 0), std::string(kAckReply));
    }
    for (const HoldButton &button : kHoldButtons)
        QCOMPARE(model.take(button.command, 0), std::string(kAckReply));
}

void TestSimProjectorModel::shouldRefuseUnknownCodes_data()
{
    QTest::addColumn<QString>("code");
    for (const char *code : {"C99", "CR2", "CR8", "cr0", "XYZ", "C0b"})
        QTest::newRow(code) << QString::fromLatin1(code);
}

void TestSimProjectorModel::shouldRefuseUnknownCodes()
{
    QFETCH(QString, code);
    ProjectorModel model({.startOn = true});
    const std::string reply = model.take(code.toStdString(), 0);
    QCOMPARE(reply, std::string(kNakReply));
    // Whatever the panel last asked, it decodes nothing from this reply.
    for (const char *query : {"CR0", "CR1", "CR4", "CR7", "CRA"})
        QVERIFY(!decodeStatus(renderTraffic(reply), buildFrame("", query), ""));
    QCOMPARE(model.power(), PowerState::On);
}

QTEST_APPLESS_MAIN(TestSimProjectorModel)
#include "tst_simprojectormodel.moc"
