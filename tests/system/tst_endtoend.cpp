// The panel against simulated projectors, through a real pseudo-terminal and the real serial
// layer: every status query answered and read out, power on with its count down, and frames
// reaching the projectors that their address names.
#include <QSignalSpy>

#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "sim/qt/projectorsimulator.h"
#include "support/keys.h"
#include "support/panelfixture.h"

namespace {

// The line's backlog runs on real time, whatever clock the panel's timers run on.
const QtClock lineClock;

// A chain of projectors on COM1 and the panel on it. The panel's time-outs run on a virtual
// clock, so a decoded status stays shown until the test moves time on.
class EndToEnd {
public:
    explicit EndToEnd(SimulatorOptions options)
        : simulator(std::move(options)),
          comm(DeviceMap{openedPath(simulator), "/nonexistent"}, lineClock),
          form(clock, comm, messages)
    {
        form.setOnEnd([] {});
        QObject::connect(&simulator, &ProjectorSimulator::traffic, &simulator,
                         [this](const SimEvent &event) { events.push_back(event); });
    }

    bool start()
    {
        if (!form.Form_Load())
            return false;
        form.show();
        pressCtrlH(&form);
        return form.Height() == 7200;
    }

    void click(const char *name)
    {
        QTest::mouseClick(form.findChild<QWidget *>(name), Qt::LeftButton);
    }
    QString status() const { return form.findChild<QLabel *>("Label22")->text(); }
    QString rxd() const { return form.findChild<QLabel *>("Label12")->text(); }

    // Sends a query, waits for its reply to be decoded and lets the panel's time-outs clear
    // the displays and the receive buffer for the next exchange.
    QString ask(const char *button)
    {
        click(button);
        waitFor([this] { return !status().isEmpty(); });
        const QString decoded = status();
        clock.advance(1000);
        return decoded;
    }
    // Sends an operation command and waits for its acknowledgement.
    bool command(const char *button)
    {
        click(button);
        const bool acknowledged = waitFor([this] { return rxd() == QStringLiteral(" &CR "); });
        clock.advance(1000);
        return acknowledged;
    }
    template <typename Condition>
    static bool waitFor(Condition condition)
    {
        QElapsedTimer waited;
        waited.start();
        while (!condition() && waited.elapsed() < 5000)
            QTest::qWait(2);
        return condition();
    }

    // Frames the projectors took since the last call: prefix or "-", then the code.
    QStringList takeReceived()
    {
        QStringList frames;
        for (const SimEvent &event : std::exchange(events, {})) {
            if (event.kind == SimEvent::Kind::Received)
                frames << QString::fromStdString((event.prefix.empty() ? "-" : event.prefix) + " " +
                                                 event.code);
        }
        return frames;
    }

    ProjectorSimulator simulator;
    VirtualClock clock;
    QtSerialControl comm;
    RecordingMessageBox messages;
    Form1 form;
    std::vector<SimEvent> events;

private:
    static std::string openedPath(ProjectorSimulator &simulator)
    {
        simulator.openPty();
        return simulator.slavePath().toStdString();
    }
};

SimulatorOptions chainOf(int length, bool on)
{
    SimulatorOptions options;
    options.chainLength = length;
    options.projector.startOn = on;
    options.projector.countDownMs = 300;
    return options;
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyStatusQueryIsReadOut();
    void powerOnCountsDownThenIsOn();
    void addressedFrameReachesOnlyItsProjector();
    void allReachesEveryProjector();
    void heldZoomRepeatsOnTheLine();
};

void TestEndToEnd::everyStatusQueryIsReadOut()
{
    EndToEnd line(chainOf(1, true));
    QVERIFY(line.start());
    QCOMPARE(line.ask("Command44"), QStringLiteral(" Power ON"));
    QCOMPARE(line.ask("Command45"), QStringLiteral(" Input 1"));
    QCOMPARE(line.ask("Command47"), QStringLiteral(" Normally"));
    QCOMPARE(line.ask("Command55"), QStringLiteral(" No1,2 ON  : 2 Lamp mode"));
    QCOMPARE(line.ask("Command12"), QStringLiteral(" Video & Audio mute OFF"));
    const int hours = line.simulator.chain().projector(1).lampHours();
    QCOMPARE(line.ask("Command46"), QStringLiteral(" %1 CR  Hour Use")
                                        .arg(QString("%1")
                                                 .arg(hours, 5, 10, QChar('0'))
                                                 .split("", Qt::SkipEmptyParts)
                                                 .join(' ')));
    const QString temperatures = line.ask("Command54");
    QVERIFY2(temperatures.startsWith("  S1= ") && temperatures.contains(" C  ,   S2= ") &&
                 temperatures.endsWith(" C"),
             qPrintable(temperatures));
    QCOMPARE(line.ask("Command38"), QStringLiteral(" K O R U - S I M   0 0 1 CR "));

    // Each query changes what it reads: the mutes and the input.
    QVERIFY(line.command("Command21"));
    QVERIFY(line.command("Command19"));
    QCOMPARE(line.ask("Command12"), QStringLiteral(" Video & Audio mute ON"));
    QVERIFY(line.command("Command29"));
    QCOMPARE(line.ask("Command45"), QStringLiteral(" Input 3"));
    QCOMPARE(line.ask("Command12"), QStringLiteral(" No signal"));  // nothing on input 3
    QVERIFY(line.command("Command57"));
    QCOMPARE(line.ask("Command55"), QStringLiteral(" No1 ON  : Half Lamp mode-1"));
    QVERIFY(line.messages.shown.empty());
}

void TestEndToEnd::powerOnCountsDownThenIsOn()
{
    EndToEnd line(chainOf(1, false));
    QVERIFY(line.start());
    QCOMPARE(line.ask("Command44"), QStringLiteral(" Stand by"));
    QCOMPARE(line.ask("Command12"), QStringLiteral(" Stand by"));
    QVERIFY(line.command("Command17"));
    QCOMPARE(line.ask("Command44"), QStringLiteral(" Count down"));
    QTRY_COMPARE_WITH_TIMEOUT(line.ask("Command44"), QStringLiteral(" Power ON"), 5000);
}

void TestEndToEnd::addressedFrameReachesOnlyItsProjector()
{
    EndToEnd line(chainOf(4, true));
    QVERIFY(line.start());
    line.click("Option6");
    QVERIFY(line.command("Command19"));
    QCOMPARE(line.takeReceived(), QStringList{"A002 C0B"});
    const ProjectorChain &chain = line.simulator.chain();
    QVERIFY(chain.projector(2).audioMute());
    for (int address : {1, 3, 4})
        QVERIFY(!chain.projector(address).audioMute());
    // The status of projector 2 is read from projector 2.
    QCOMPARE(line.ask("Command12"), QStringLiteral(" Audio mute ON"));
    QCOMPARE(line.takeReceived(), QStringList{"A002 CRA"});
    line.click("Option3");
    QCOMPARE(line.ask("Command12"), QStringLiteral(" Video & Audio mute OFF"));
}

void TestEndToEnd::allReachesEveryProjector()
{
    EndToEnd line(chainOf(4, true));
    QVERIFY(line.start());
    line.click("Option4");
    QVERIFY(line.command("Command28"));
    QCOMPARE(line.takeReceived(), QStringList{"AFFF C06"});
    for (int address = 1; address <= 4; ++address)
        QCOMPARE(line.simulator.chain().projector(address).input(), 2);
}

void TestEndToEnd::heldZoomRepeatsOnTheLine()
{
    EndToEnd line(chainOf(1, true));
    QVERIFY(line.start());
    line.click("Option5");
    QWidget *zoom = line.form.findChild<QWidget *>("Command15");
    QTest::mousePress(zoom, Qt::LeftButton);
    line.clock.advance(200);
    QTest::mouseRelease(zoom, Qt::LeftButton);
    line.clock.advance(1000);
    // The press and four repetitions, each a whole frame under the address in force.
    QStringList frames;
    QElapsedTimer waited;
    waited.start();
    while (frames.size() < 5 && waited.elapsed() < 5000) {
        QTest::qWait(5);
        frames << line.takeReceived();
    }
    QCOMPARE(frames, QStringList(5, QStringLiteral("A001 C47")));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
