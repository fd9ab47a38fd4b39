#include <QBuffer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "os/logfile.h"
#include "sim/qt/projectorsimulator.h"
#include "sim/qt/simlogwriter.h"
#include "support/ptypair.h"

namespace {

constexpr int kTimeoutMs = 10000;

// The panel's end of the line: the slave opened with QSerialPort, 8N1, as the panel opens it,
// collecting what arrives and in how many reads.
class PanelPort {
public:
    explicit PanelPort(const QString &path, int baud = 19200)
    {
        m_port.setPortName(path);
        m_port.setBaudRate(baud);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] {
            m_received += m_port.readAll();
            ++m_reads;
        });
    }

    bool open() { return m_port.open(QIODevice::ReadWrite); }
    void close() { m_port.close(); }
    QString errorString() const { return m_port.errorString(); }
    void write(const QByteArray &bytes) { m_port.write(bytes); }
    QByteArray received() const { return m_received; }
    int reads() const { return m_reads; }
    void clear()
    {
        m_received.clear();
        m_reads = 0;
    }

private:
    QSerialPort m_port;
    QByteArray m_received;
    int m_reads = 0;
};

struct Recorded {
    QList<SimEvent> events;

    int count(SimEvent::Kind kind) const
    {
        return static_cast<int>(std::count_if(
            events.begin(), events.end(), [kind](const SimEvent &e) { return e.kind == kind; }));
    }
};

std::unique_ptr<ProjectorSimulator> startSimulator(SimulatorOptions options, Recorded *recorded)
{
    auto simulator = std::make_unique<ProjectorSimulator>(std::move(options));
    QObject::connect(simulator.get(), &ProjectorSimulator::traffic, simulator.get(),
                     [recorded](const SimEvent &event) { recorded->events << event; });
    if (!simulator->openPty())
        qWarning("openPty: %s", qPrintable(simulator->errorString()));
    return simulator;
}

}  // namespace

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestSimPty : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldAnswerAFrameWrittenAtTheSlave_data();
    void shouldAnswerAFrameWrittenAtTheSlave();
    void shouldHoldTheReplyForTheDelay();
    void shouldSendEachByteOfAReplyOnItsOwn();
    void shouldAnswerNothingWhenSilent();
    void shouldPaceAtTheLineSpeed_data();
    void shouldPaceAtTheLineSpeed();
    void shouldLogEveryFrameAndReply();
    void shouldSurviveThePanelClosingAndReopeningThePort();
    void shouldServeADeviceItIsGiven();
};

void TestSimPty::shouldAnswerAFrameWrittenAtTheSlave_data()
{
    QTest::addColumn<int>("chain");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QByteArray>("replies");
    QTest::newRow("status query") << 1 << QByteArray("CR0\r") << QByteArray("80\r");
    QTest::newRow("operation") << 1 << QByteArray("C00\r") << QByteArray("\x06\r");
    QTest::newRow("unknown code") << 1 << QByteArray("C99\r") << QByteArray("\x15\r");
    QTest::newRow("addressed in a chain")
        << 2 << QByteArray("A002CR9\r") << QByteArray("KORU-SIM 002\r");
    QTest::newRow("all in a chain") << 4 << QByteArray("AFFFCR9\r") << QByteArray("KORU-SIM 001\r");
    // Replies keep the order of the frames, so the second proves the first got none.
    QTest::newRow("absent projector") << 2 << QByteArray("A004CR0\rCR1\r") << QByteArray("1\r");
    QTest::newRow("garbage then a frame")
        << 1 << QByteArray("\x00\xff junk\rCR1\r", 12) << QByteArray("1\r");
    QTest::newRow("several at once")
        << 1 << QByteArray("CR0\rCR1\rCR4\r") << QByteArray("80\r1\r11\r");
}

void TestSimPty::shouldAnswerAFrameWrittenAtTheSlave()
{
    QFETCH(int, chain);
    QFETCH(QByteArray, frames);
    QFETCH(QByteArray, replies);
    Recorded recorded;
    auto simulator = startSimulator({.chainLength = chain}, &recorded);
    PanelPort panel(simulator->slavePath());
    QVERIFY2(panel.open(), qPrintable(panel.errorString()));
    panel.write(frames);
    QTRY_COMPARE_WITH_TIMEOUT(panel.received(), replies, kTimeoutMs);
}

void TestSimPty::shouldHoldTheReplyForTheDelay()
{
    Recorded recorded;
    auto simulator = startSimulator({.replyDelayMs = 300}, &recorded);
    PanelPort panel(simulator->slavePath());
    QVERIFY(panel.open());
    QElapsedTimer elapsed;
    elapsed.start();
    panel.write("CR0\r");
    QTRY_COMPARE_WITH_TIMEOUT(panel.received(), QByteArray("80\r"), kTimeoutMs);
    QVERIFY2(elapsed.elapsed() >= 300, qPrintable(QString::number(elapsed.elapsed())));
}

void TestSimPty::shouldSendEachByteOfAReplyOnItsOwn()
{
    Recorded recorded;
    auto simulator = startSimulator({.byteAtATime = true, .byteGapMs = 30}, &recorded);
    PanelPort panel(simulator->slavePath());
    QVERIFY(panel.open());
    QElapsedTimer elapsed;
    elapsed.start();
    panel.write("CR6\r");
    QTRY_COMPARE_WITH_TIMEOUT(panel.received(), QByteArray(" 25.0  25.0\r"), kTimeoutMs);
    // Eleven gaps of 30 ms between the twelve bytes; reads may merge on a slow machine, but
    // never all of them.
    QVERIFY2(elapsed.elapsed() >= 11 * 30 * 8 / 10, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY2(panel.reads() >= 2, qPrintable(QString::number(panel.reads())));
}

void TestSimPty::shouldAnswerNothingWhenSilent()
{
    Recorded recorded;
    auto simulator =
        startSimulator({.silent = true, .unasked = "U", .unaskedRate = 100}, &recorded);
    PanelPort panel(simulator->slavePath());
    QVERIFY(panel.open());
    panel.write("CR0\r");
    QTRY_COMPARE_WITH_TIMEOUT(recorded.count(SimEvent::Kind::Received), 1, kTimeoutMs);
    // A reply would have gone out at once, before the unasked text that follows it.
    panel.clear();
    QTRY_VERIFY_WITH_TIMEOUT(panel.received().size() >= 5, kTimeoutMs);
    QCOMPARE(panel.received(), QByteArray(panel.received().size(), 'U'));
    QCOMPARE(recorded.count(SimEvent::Kind::Replied), 0);
    // Silent projectors still act on what they take.
    QCOMPARE(simulator->chain().projector(1).power(), PowerState::StandBy);
    panel.write("C00\r");
    QTRY_COMPARE_WITH_TIMEOUT(simulator->chain().projector(1).power(), PowerState::CountDown,
                              kTimeoutMs);
}

void TestSimPty::shouldPaceAtTheLineSpeed_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("count");
    // 40 frames of 8 bytes in, 40 replies of 2 out: the reading sets the pace.
    QTest::newRow("input bound") << QByteArray("A001C00\r") << QByteArray("\x06\r") << 40;
    // 20 frames of 4 bytes in, 20 replies of 12 out: the writing sets the pace.
    QTest::newRow("output bound") << QByteArray("CR6\r") << QByteArray(" 25.0  25.0\r") << 20;
}

void TestSimPty::shouldPaceAtTheLineSpeed()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(int, count);
    Recorded recorded;
    auto simulator = startSimulator({.pace = true}, &recorded);
    PanelPort panel(simulator->slavePath(), 9600);
    QVERIFY(panel.open());
    QTRY_COMPARE_WITH_TIMEOUT(simulator->lineBaud(), 9600, kTimeoutMs);
    const qsizetype bytes = std::max(frame.size(), reply.size()) * count;
    const double lineMs = bytes * 10 * 1000.0 / 9600;

    QElapsedTimer elapsed;
    elapsed.start();
    panel.write(frame.repeated(count));
    QTRY_COMPARE_WITH_TIMEOUT(panel.received(), reply.repeated(count), kTimeoutMs);
    QVERIFY2(
        elapsed.elapsed() >= 0.8 * lineMs,
        qPrintable(
            QStringLiteral("%1 ms for %2 ms of line time").arg(elapsed.elapsed()).arg(lineMs)));
}

void TestSimPty::shouldLogEveryFrameAndReply()
{
    Recorded recorded;
    auto simulator = startSimulator({.chainLength = 2}, &recorded);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sim.log"));
    LogFile log;
    QVERIFY(log.open(path.toStdString()));
    SimLogWriter writer(simulator.get(), &log, path);
    writer.writeHeader();
    PanelPort panel(simulator->slavePath());
    QVERIFY(panel.open());
    panel.write("A002CR0\rCR1\r");
    QTRY_COMPARE_WITH_TIMEOUT(panel.received(), QByteArray("80\r1\r"), kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(recorded.count(SimEvent::Kind::Replied), 2, kTimeoutMs);

    const QStringList lines =
        QString::fromLatin1(readAll(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression format(QStringLiteral(R"(^(\d+\.\d{6}) (.*)$)"));
    QStringList bodies;
    QList<double> times;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const auto match = format.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        times << match.captured(1).toDouble();
        bodies << match.captured(2);
    }
    QCOMPARE(bodies, (QStringList{"OPENED", "RX A002 CR0", "TX 2 80\\r", "RX - CR1", "TX 1 1\\r"}));
    QVERIFY(std::is_sorted(times.begin(), times.end()));

    // The same, in process, with who took each frame.
    const SimEvent &addressed = recorded.events.at(1);
    QCOMPARE(addressed.kind, SimEvent::Kind::Received);
    QCOMPARE(addressed.prefix, std::string("A002"));
    QCOMPARE(addressed.code, std::string("CR0"));
    QCOMPARE(addressed.takenBy, std::vector<int>{2});
    QCOMPARE(recorded.events.at(3).takenBy, (std::vector<int>{1, 2}));
    QCOMPARE(recorded.events.at(4).projector, 1);
}

void TestSimPty::shouldSurviveThePanelClosingAndReopeningThePort()
{
    Recorded recorded;
    auto simulator = startSimulator({}, &recorded);
    {
        PanelPort panel(simulator->slavePath());
        QVERIFY(panel.open());
        panel.write("CR0\r");
        QTRY_COMPARE_WITH_TIMEOUT(panel.received(), QByteArray("80\r"), kTimeoutMs);
        // Half a frame, then the port closes: the rest never comes.
        panel.write("A00");
        QTRY_COMPARE_WITH_TIMEOUT(simulator->chain().projector(1).power(), PowerState::StandBy,
                                  kTimeoutMs);
        panel.close();
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorded.count(SimEvent::Kind::Closed), 1, kTimeoutMs);
    for (int round = 0; round < 2; ++round) {
        PanelPort panel(simulator->slavePath());
        QVERIFY2(panel.open(), qPrintable(panel.errorString()));
        panel.write("CR1\r");
        QTRY_COMPARE_WITH_TIMEOUT(panel.received(), QByteArray("1\r"), kTimeoutMs);
        panel.close();
        QTRY_COMPARE_WITH_TIMEOUT(recorded.count(SimEvent::Kind::Closed), 2 + round, kTimeoutMs);
    }
    QCOMPARE(recorded.count(SimEvent::Kind::Discarded), 0);
}

void TestSimPty::shouldServeADeviceItIsGiven()
{
    PtyPair pair;
    QVERIFY(pair.isOpen());
    ProjectorSimulator simulator({.chainLength = 3});
    QVERIFY2(simulator.openDevice(pair.slavePath()), qPrintable(simulator.errorString()));
    QCOMPARE(simulator.slavePath(), pair.slavePath());
    QVERIFY(pair.writeMaster("A003CR9\r"));
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += pair.readMaster()), QByteArray("KORU-SIM 003\r"),
                              kTimeoutMs);
}

QTEST_GUILESS_MAIN(TestSimPty)
#include "tst_simpty.moc"
