// Nothing from the line can crash or freeze the panel, and nothing goes out half-sent: a
// flood of unasked text, random bytes, replies split anywhere, a far end that vanishes during
// a hold, ports that cannot be had, and the backlog a fast hold leaves on a slow line.
#include <QElapsedTimer>
#include <QTimer>
#include <random>

#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "sim/qt/projectorsimulator.h"
#include "support/keys.h"
#include "support/panelfixture.h"
#include "support/ptypair.h"

namespace {

// The line's backlog runs on real time, whatever clock the panel's timers run on.
const QtClock lineClock;

QWidget *child(QWidget *form, const char *name)
{
    return form->findChild<QWidget *>(QString::fromLatin1(name));
}

QString labelText(QWidget *form, const char *name)
{
    return form->findChild<QLabel *>(QString::fromLatin1(name))->text();
}

// Runs the event loop for ms milliseconds. QTest::qWait would sleep between its rounds of
// events, which a 5 ms repeat or a measure of the event loop's stalls cannot have.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool printableAscii(const QString &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 32 && c.unicode() <= 126; });
}

}  // namespace

class TestHardening : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void floodOfUnaskedTextLeavesThePanelResponsive();
    void randomBytesShowOnlyAsPlainText();
    void replySplitAnywhereDecodesTheSame_data();
    void replySplitAnywhereDecodesTheSame();
    void farEndVanishingDuringAHold();
    void unavailablePortsSayWhatToDo();
    void fastHoldLeavesLittleBacklogOnASlowLine_data();
    void fastHoldLeavesLittleBacklogOnASlowLine();
};

void TestHardening::floodOfUnaskedTextLeavesThePanelResponsive()
{
    // A megabyte of unasked text as fast as the pseudo-terminal takes it, while Zoom + is held
    // on the real clock. A posted event must never wait longer than one repeat interval.
    PtyPair farEnd;
    QVERIFY(farEnd.isOpen());
    QtClock clock;
    QtSerialControl comm(DeviceMap{farEnd.slavePath().toStdString(), "/nonexistent"}, lineClock);
    RecordingMessageBox messages;
    Form1 form(clock, comm, messages);
    form.setOnEnd([] {});
    QVERIFY(form.Form_Load());
    form.show();

    // The first text drawn loads the displays' glyphs, once; that is no stall of the flood's.
    QVERIFY(farEnd.writeMaster("warm-up \x06\x80\r\n"));
    QTRY_VERIFY(!labelText(&form, "Label12").isEmpty());
    spin(50);

    constexpr qsizetype kFlood = 1024 * 1024;
    const QByteArray chunk =
        QByteArray("0123456789 ABCDEF\x06\r\n\x80\xff<b>&%s", 29).repeated(128);
    qsizetype sent = 0;
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, &writer, [&] {
        // At most a few chunks a turn, so that the writer itself never holds the loop up.
        for (int i = 0; i < 4 && sent < kFlood && farEnd.writeMaster(chunk); ++i)
            sent += chunk.size();
        farEnd.readMaster();  // the frames of the hold
    });
    writer.start(1);

    qint64 longestStall = 0;
    QElapsedTimer sinceProbe;
    sinceProbe.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        longestStall = std::max(longestStall, sinceProbe.elapsed() - 5);
        sinceProbe.restart();
    });
    probe.start(5);

    QTest::mousePress(child(&form, "Command15"), Qt::LeftButton);
    QElapsedTimer flood;
    flood.start();
    while (sent < kFlood && flood.elapsed() < 60000)
        spin(10);
    spin(200);
    QVERIFY2(sent >= kFlood, "the panel stopped reading the line");

    // The release, posted like the operator's, is handled within one repeat interval.
    QElapsedTimer release;
    release.start();
    bool released = false;
    QTimer::singleShot(0, &form, [&] {
        QTest::mouseRelease(child(&form, "Command15"), Qt::LeftButton);
        released = true;
    });
    while (!released && release.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QVERIFY(released);
    QVERIFY2(release.elapsed() < 50, qPrintable(QString::number(release.elapsed())));
    QVERIFY(!form.core().holds().repeatTimer().enabled());
    QVERIFY2(longestStall < 50,
             qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestStall)));
    QVERIFY(form.core().traffic().rxBuffer().size() <= 32767);
    QVERIFY(printableAscii(labelText(&form, "Label12")));
    QVERIFY(messages.shown.empty());
    qInfo("1 MB flood in %lld ms; longest event-loop stall %lld ms", flood.elapsed(), longestStall);
}

void TestHardening::randomBytesShowOnlyAsPlainText()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    std::mt19937 random(42);
    const char *queries[] = {"Command44", "Command45", "Command46", "Command47",
                             "Command54", "Command55", "Command38", "Command12"};
    for (int round = 0; round < 400; ++round) {
        if (round % 10 == 0)
            panel.click(queries[random() % 8]);
        std::string bytes(random() % 600, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random() % 256);
        panel.comm.receive(bytes);
        QVERIFY(panel.form->core().traffic().rxBuffer().size() <= 32767);
        for (const char *display : {"Label11", "Label12", "Label22"})
            QVERIFY2(printableAscii(panel.get<QLabel>(display)->text()), display);
        panel.clock.advance(random() % 700);
    }
}

void TestHardening::replySplitAnywhereDecodesTheSame_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("CR0") << "Command44" << QByteArray("00\r");
    QTest::newRow("CR1") << "Command45" << QByteArray("2\r");
    QTest::newRow("CR3") << "Command46" << QByteArray("123456789012\r");
    QTest::newRow("CR4") << "Command47" << QByteArray("10\r");
    QTest::newRow("CR6") << "Command54" << QByteArray("ABCDEFGHIJK\r");
    QTest::newRow("CR7") << "Command55"
                         << QByteArray(
                                "\x06"
                                "13\r");
    QTest::newRow("CR9") << "Command38" << QByteArray("KORU-SIM 001\r");
    QTest::newRow("CRA") << "Command12" << QByteArray("03\r");
}

void TestHardening::replySplitAnywhereDecodesTheSame()
{
    QFETCH(QString, query);
    QFETCH(QByteArray, reply);
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click(query.toLatin1().constData());
    panel.comm.receive(reply.toStdString());
    const QString whole = panel.status();
    panel.clock.advance(1000);
    for (qsizetype at = 0; at <= reply.size(); ++at) {
        panel.click(query.toLatin1().constData());
        panel.comm.receive(reply.left(at).toStdString());
        panel.comm.receive(reply.mid(at).toStdString());
        QCOMPARE(panel.status(), whole);
        panel.clock.advance(1000);
    }
}

void TestHardening::farEndVanishingDuringAHold()
{
    ProjectorSimulator simulator;
    QVERIFY(simulator.openPty());
    VirtualClock clock;
    QtSerialControl comm(DeviceMap{simulator.slavePath().toStdString(), "/nonexistent"}, lineClock);
    RecordingMessageBox messages;
    Form1 form(clock, comm, messages);
    form.setOnEnd([] {});
    QVERIFY(form.Form_Load());
    form.show();
    QTest::mousePress(child(&form, "Command36"), Qt::LeftButton);
    clock.advance(100);

    simulator.close();
    QTRY_VERIFY(!comm.portOpen());
    clock.advance(500);  // ticks go on sending to a closed port
    QVERIFY(messages.shown.empty());
    QVERIFY(form.core().holds().repeatTimer().enabled());
    QTest::mouseRelease(child(&form, "Command36"), Qt::LeftButton);
    QVERIFY(!form.core().holds().repeatTimer().enabled());
    QCOMPARE(form.core().holds().heldKey(), 0);
    // The operator sees that the port is closed.
    QTest::mouseClick(child(&form, "Command17"), Qt::LeftButton);
    QVERIFY(child(&form, "Frame8")->isVisible());
    QCOMPARE(labelText(&form, "Label11"), QStringLiteral(" C 0 0 CR "));
    QVERIFY(messages.shown.empty());
}

void TestHardening::unavailablePortsSayWhatToDo()
{
    {
        VirtualClock clock;
        QtSerialControl comm(DeviceMap{"/dev/koru-no-such-port", "/nonexistent"}, lineClock);
        RecordingMessageBox messages;
        Form1 form(clock, comm, messages);
        QVERIFY(!form.Form_Load());
        QCOMPARE(messages.shown.size(), std::size_t(1));
        const std::string &text = messages.shown[0].text;
        QVERIFY2(text.find("/dev/koru-no-such-port") != std::string::npos, text.c_str());
        QVERIFY(text.find("no such device") != std::string::npos);
        QVERIFY(text.find("--com1 PATH") != std::string::npos);
    }
    PtyPair line;
    QVERIFY(line.isOpen());
    QtSerialControl holder(DeviceMap{line.slavePath().toStdString(), "/nonexistent"}, lineClock);
    QVERIFY(!holder.setPortOpen(true));
    {
        // COM1 held by another program at start-up.
        VirtualClock clock;
        QtSerialControl comm(DeviceMap{line.slavePath().toStdString(), "/nonexistent"}, lineClock);
        RecordingMessageBox messages;
        Form1 form(clock, comm, messages);
        QVERIFY(!form.Form_Load());
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QVERIFY2(messages.shown[0].text.find("in use by another program") != std::string::npos,
                 messages.shown[0].text.c_str());
    }
    {
        // COM2 held by another program at a port selection.
        PtyPair com1;
        VirtualClock clock;
        QtSerialControl comm(
            DeviceMap{com1.slavePath().toStdString(), line.slavePath().toStdString()}, lineClock);
        RecordingMessageBox messages;
        Form1 form(clock, comm, messages);
        form.setOnEnd([] {});
        QVERIFY(form.Form_Load());
        form.show();
        QTest::mouseClick(child(&form, "Command33"), Qt::LeftButton);
        QTest::mouseClick(child(&form, "Option2"), Qt::LeftButton);
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(messages.shown[0].icon, MessageBox::Icon::Warning);
        QVERIFY(messages.shown[0].text.find("COM2 (" + line.slavePath().toStdString()) !=
                std::string::npos);
        QVERIFY(messages.shown[0].text.find("in use") != std::string::npos);
        QVERIFY(!comm.portOpen());
        QCOMPARE(comm.commPort(), 1);
    }
}

void TestHardening::fastHoldLeavesLittleBacklogOnASlowLine_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<double>("mostStaleSeconds");
    // 512 bytes of 8-byte frames at 10 bits a byte.
    QTest::newRow("9600") << 9600 << 512 * 10.0 / 9600;
    QTest::newRow("19200") << 19200 << 512 * 10.0 / 19200;
}

void TestHardening::fastHoldLeavesLittleBacklogOnASlowLine()
{
    QFETCH(int, baud);
    QFETCH(double, mostStaleSeconds);
    // The arrow after a D.Zoom release repeats every 5 ms, faster than the line carries
    // prefixed frames at 9600 baud; the far end reads at the line speed.
    SimulatorOptions options;
    options.pace = true;
    options.silent = true;
    ProjectorSimulator simulator(options);
    QVERIFY(simulator.openPty());
    std::vector<SimEvent> received;
    QObject::connect(&simulator, &ProjectorSimulator::traffic, &simulator,
                     [&](const SimEvent &event) { received.push_back(event); });
    QtClock clock;
    QtSerialControl comm(DeviceMap{simulator.slavePath().toStdString(), "/nonexistent"}, lineClock);
    RecordingMessageBox messages;
    Form1 form(clock, comm, messages);
    form.setOnEnd([] {});
    QVERIFY(form.Form_Load());
    form.show();
    pressCtrlH(&form);
    if (baud == 9600) {
        QTest::mouseClick(child(&form, "Command33"), Qt::LeftButton);
        QTest::mouseClick(child(&form, "Option10"), Qt::LeftButton);
    }
    QTest::mouseClick(child(&form, "Option5"), Qt::LeftButton);
    QTest::mouseClick(child(&form, "Command48"), Qt::LeftButton);  // D.Zoom: arrows at 5 ms
    spin(300);

    QTest::mousePress(child(&form, "Command8"), Qt::LeftButton);
    spin(1500);
    QTest::mouseRelease(child(&form, "Command8"), Qt::LeftButton);
    const std::int64_t releasedUs = monotonicNowUs();
    spin(int(mostStaleSeconds * 1000) + 700);

    std::int64_t lastUs = 0;
    int arrows = 0;
    for (const SimEvent &event : received) {
        QVERIFY2(event.kind != SimEvent::Kind::Discarded, "a frame arrived cut or merged");
        if (event.kind == SimEvent::Kind::Received && event.code == "C3A") {
            QCOMPARE(event.prefix, std::string("A001"));
            lastUs = event.timeUs;
            ++arrows;
        }
    }
    const double staleSeconds = (lastUs - releasedUs) / 1e6;
    qInfo("%d baud: %d arrow frames, the last %.3f s after the release (bound %.3f s)", baud,
          arrows, staleSeconds, mostStaleSeconds);
    QVERIFY(arrows > 50);
    QVERIFY(comm.droppedFrames() > 0 || baud == 19200);
    QVERIFY2(staleSeconds < mostStaleSeconds + 0.15, qPrintable(QString::number(staleSeconds)));
}

QTEST_MAIN(TestHardening)
#include "tst_hardening.moc"
