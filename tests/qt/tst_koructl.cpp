// koru-ctl against projector-sim on a pseudo-terminal: every name sends its frame, every query
// reads the simulator's state, the exit statuses, the JSON, and the traffic logs of koru-ctl
// and of the panel line for line against the simulator's own.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstring>

#include "core/ctl/commandrunner.h"
#include "core/panel/loggingserialcontrol.h"
#include "core/protocol/commandnames.h"
#include "core/protocol/escaping.h"
#include "qt/programline.h"
#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "qt/trafficlogfile.h"
#include "support/ptypair.h"
#include "support/recordingmessagebox.h"
#include "support/ser2netrig.h"
#include "support/simprocess.h"
#include "widgets/form1.h"

namespace {

constexpr int kTimeoutMs = 10000;

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

using Sim = SimProcess;

// koru-ctl started with the panel's settings file in configHome, or with none.
void startKoruCtl(QProcess &process, const QStringList &arguments, const QString &configHome = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       configHome.isEmpty() ? QStringLiteral("/nonexistent-koru") : configHome);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KORU_CTL), arguments);
}

Run koruCtl(const QStringList &arguments, const QString &configHome = {})
{
    QProcess process;
    startKoruCtl(process, arguments, configHome);
    Run run;
    if (!process.waitForFinished(kTimeoutMs))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// What the simulator's log says it took, as frames ("AFFF C00" is "AFFFC00\\r"), and sent.
std::pair<QStringList, QString> simTraffic(const Sim &sim)
{
    QStringList frames;
    for (const QString &event : sim.events(QStringLiteral("RX")))
        frames << QString(event).remove(QRegularExpression(QStringLiteral("^- | "))) + "\\r";
    QString replies;
    for (const QString &event : sim.events(QStringLiteral("TX")))
        replies += event.section(QLatin1Char(' '), 1);
    return {frames, replies};
}

// A traffic log's frames sent and everything received; nothing when a line is malformed.
std::pair<QStringList, QString> readTrafficLog(const QString &path, const QString &port)
{
    static const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) "
                       "(TX|RX) (\\S+) (.*)$"));
    QFile file(path);
    std::pair<QStringList, QString> traffic;
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &bytes : file.readAll().trimmed().split('\n')) {
        const auto match = line.match(QString::fromLatin1(bytes));
        if (!match.hasMatch() || match.captured(3) != port)
            return {{QStringLiteral("malformed: ") + QString::fromLatin1(bytes)}, {}};
        if (match.captured(2) == QLatin1String("TX"))
            traffic.first << match.captured(4);
        else
            traffic.second += match.captured(4);
    }
    return traffic;
}

// The frame that koru-ctl, started on line's slave, has sent; empty if none came in time.
QByteArray awaitFrame(PtyPair &line)
{
    QByteArray frame;
    static_cast<void>(
        QTest::qWaitFor([&] { return (frame += line.readMaster()).endsWith('\r'); }, kTimeoutMs));
    return frame;
}

// Whether text holds only what a terminal shows as it is: printable ASCII and line ends.
bool isTerminalSafe(const QByteArray &text)
{
    for (const char c : text) {
        if (c != '\n' && (c < 0x20 || c > 0x7e))
            return false;
    }
    return true;
}

// The resident memory of a process, from /proc; 0 when it cannot be read.
qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Qt's lock file for a device: /run/lock/LCK..pts_N for /dev/pts/N.
QString lockFileOf(const QString &device)
{
    return QStringLiteral("/run/lock/LCK..") +
           QString(device).remove(QStringLiteral("/dev/")).replace(QLatin1Char('/'), '_');
}

}  // namespace

class TestKoruCtl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyNameShouldSendItsFrame_data();
    void everyNameShouldSendItsFrame();
    void everyQueryShouldReadTheSimulatorsState_data();
    void everyQueryShouldReadTheSimulatorsState();
    void shouldExitWithItsStatus_data();
    void shouldExitWithItsStatus();
    void namesAreTakenAsGiven();
    void logNobodyReadsIsWarnedOfAndPassedBy();
    void timestampDatesEachLine_data();
    void timestampDatesEachLine();
    void everyProgramGivesTheOneVersionFirst_data();
    void everyProgramGivesTheOneVersionFirst();
    void shouldExitWith1OnNakForAnUnknownCode();
    void defaultPortShouldBeThePanelsCom1();
    void baudShouldBeTheLinesSpeed_data();
    void baudShouldBeTheLinesSpeed();
    void logShouldMatchTheSimulatorsFrameForFrame();
    void panelLogShouldMatchTheSimulatorsFrameForFrame();
    void hostileReplyShouldFailAndNeverReachTheTerminalRaw_data();
    void hostileReplyShouldFailAndNeverReachTheTerminalRaw();
    void floodShouldNotHoldTheRunPastItsTimeOut_data();
    void floodShouldNotHoldTheRunPastItsTimeOut();
    void outputErrorShouldFail_data();
    void outputErrorShouldFail();
    void lostLineShouldEndTheRunWithOneMessage();
    void endSignalShouldReleaseThePort_data();
    void endSignalShouldReleaseThePort();
    void settingsProblemsShouldBeTold_data();
    void settingsProblemsShouldBeTold();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Sim> m_chain;
};

void TestKoruCtl::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_chain = std::make_unique<Sim>(m_dir.filePath(QStringLiteral("chain.log")),
                                    QStringList{"--chain", "2"});
    QVERIFY(m_chain->waitListening());
}

void TestKoruCtl::everyNameShouldSendItsFrame_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("code");
    for (const NamedCommand &command : namedCommands()) {
        const QString name = QString::fromLatin1(command.name.data(), command.name.size());
        QTest::newRow(qPrintable(name))
            << name << QString::fromLatin1(command.code.data(), command.code.size());
    }
}

void TestKoruCtl::everyNameShouldSendItsFrame()
{
    QFETCH(QString, name);
    QFETCH(QString, code);
    const Run run = koruCtl({"--port", m_chain->path(), "--address", "002", "--json", name});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QJsonObject result = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(result.value("frame").toString(), "A002" + code + "\r");
    QCOMPARE(m_chain->events(QStringLiteral("RX")).constLast(), "A002 " + code);
}

void TestKoruCtl::everyQueryShouldReadTheSimulatorsState_data()
{
    // The device itself, and through a real ser2net in front of it by both kinds of address.
    QTest::addColumn<QString>("accepter");
    QTest::newRow("device") << QString();
    QTest::newRow("rfc2217://") << QStringLiteral("telnet(rfc2217),tcp");
    QTest::newRow("tcp://") << QStringLiteral("tcp");
}

void TestKoruCtl::everyQueryShouldReadTheSimulatorsState()
{
    QFETCH(QString, accepter);
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")),
            {"--start-on", "--lamp-hours", "4321", "--reversal", "left-right", "--model", "ROOM-7",
             "--signal", "2"});
    QVERIFY(sim.waitListening());
    QString port = sim.path();
    std::unique_ptr<Ser2NetRig> server;
    if (!accepter.isEmpty()) {
        server = std::make_unique<Ser2NetRig>(std::vector<Ser2NetRig::Connection>{
            {accepter.toStdString(), sim.path().toStdString()}});
        QVERIFY(server->start());
        port = QString::fromStdString(server->url(0));
    }
    const QList<std::pair<QString, QString>> expected{
        {"status", "^Power ON$"},
        {"mode", "^Input 1$"},
        {"lamp-time", "^04321 Hour Use$"},
        {"setting", "^Left/Right reversal$"},
        {"temp", "^S1= 2\\d\\.\\d C, S2= 2\\d\\.\\d C$"},
        {"lamp-mode", "^No1,2 ON  : 2 Lamp mode$"},
        {"pc-type", "^ROOM-7 001$"},
        {"status-2", "^No signal$"},
    };
    QStringList arguments{"--port", port, "--json"};
    for (const auto &[name, text] : expected)
        arguments << name;
    const Run run = koruCtl(arguments);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), expected.size());
    const QStringList replies = sim.events(QStringLiteral("TX"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonObject result = QJsonDocument::fromJson(lines[i], &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, lines[i].constData());
        QCOMPARE(result.value("command").toString(), expected[i].first);
        const QString text = result.value("text").toString();
        QVERIFY2(QRegularExpression(expected[i].second).match(text).hasMatch(), qPrintable(text));
        QCOMPARE(QString::fromLatin1(escapeTraffic(result.value("reply").toString().toStdString())),
                 replies[i].section(QLatin1Char(' '), 1));
    }
}

void TestKoruCtl::shouldExitWithItsStatus_data()
{
    QTest::addColumn<QStringList>("simOptions");  // empty: no simulator
    QTest::addColumn<QStringList>("arguments");   // "PORT" for the simulator's path
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutLine");
    QTest::addColumn<QString>("stderrText");
    QTest::newRow("silent") << QStringList{"--silent"}
                            << QStringList{"--port", "PORT", "--timeout", "100", "status"} << 1
                            << ""
                            << "koru-ctl: status: no reply within 100 ms\n";
    QTest::newRow("verbose") << QStringList{"--start-on"}
                             << QStringList{"--port", "PORT", "-v", "status", "freeze-on"} << 0
                             << "Power ON\n00\\r\nACK\n\\x06\\r\n"
                             << "";
    QTest::newRow("unwritable log goes on")
        << QStringList{"--start-on"}
        << QStringList{"--port", "PORT", "--log", "/dev/full", "status"} << 0 << "Power ON\n"
        << "koru-ctl: warning: cannot write the traffic log /dev/full";
    QTest::newRow("missing device")
        << QStringList{} << QStringList{"--port", "/dev/nonexistent-koru", "status"} << 3 << ""
        << "koru-ctl: Cannot open /dev/nonexistent-koru: no "
           "such device.\nConnect the serial adapter, or start koru-ctl with --port PATH";
    QTest::newRow("usage") << QStringList{} << QStringList{"--port", "/dev/null", "power-of"} << 2
                           << ""
                           << "koru-ctl: unknown command 'power-of'";
    QTest::newRow("bad address") << QStringList{} << QStringList{"--address", "005", "status"} << 2
                                 << ""
                                 << "koru-ctl: option '--address' takes single";
    QTest::newRow("line break in a path")
        << QStringList{} << QStringList{"--port", "/dev/pts/1\nx", "status"} << 2 << ""
        << "koru-ctl: option '--port' takes a name with no control character in it";
    QTest::newRow("list") << QStringList{} << QStringList{"--list"} << 0
                          << "power-on          C00  POWER ON\n"
                          << "";
    QTest::newRow("list and send") << QStringList{} << QStringList{"--list", "power-off"} << 2 << ""
                                   << "koru-ctl: option '--list' lists the commands and sends none";
    QTest::newRow("-- ends the options")
        << QStringList{"--start-on"} << QStringList{"--port", "PORT", "--", "status"} << 0
        << "Power ON\n"
        << "";
}

void TestKoruCtl::shouldExitWithItsStatus()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutLine);
    QFETCH(QString, stderrText);
    QTemporaryDir dir;
    std::unique_ptr<Sim> sim;
    if (!simOptions.isEmpty()) {
        sim = std::make_unique<Sim>(dir.filePath(QStringLiteral("sim.log")), simOptions);
        QVERIFY(sim->waitListening());
        arguments.replace(arguments.indexOf(QStringLiteral("PORT")), sim->path());
    }
    const Run run = koruCtl(arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (stdoutLine.isEmpty())
        QVERIFY2(run.out.isEmpty(), run.out.constData());
    else
        QVERIFY2(run.out.startsWith(stdoutLine.toLatin1()), run.out.constData());
    if (stderrText.isEmpty())
        QVERIFY2(run.err.isEmpty(), run.err.constData());
    else
        QVERIFY2(run.err.startsWith(stderrText.toLatin1()), run.err.constData());
    // One warning, however much traffic there is.
    QVERIFY(run.err.count('\n') <= 1 || exitCode >= 2);
    // A usage error is one line and a pointer to the help.
    if (exitCode == 2) {
        QCOMPARE(run.err.count('\n'), 2);
        QVERIFY2(run.err.endsWith("\nTry 'koru-ctl --help' for more information.\n"),
                 run.err.constData());
    }
}

void TestKoruCtl::shouldExitWith1OnNakForAnUnknownCode()
{
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")));
    QVERIFY(sim.waitListening());
    QtClock clock;
    QtSerialControl comm(DeviceMap{sim.path().toStdString(), {}}, clock);
    QVERIFY(comm.setSettings("19200,N,8,1"));
    QVERIFY(!comm.setPortOpen(true));
    CommandRunner runner(comm, clock, "A001", 500);
    std::vector<CtlResult> results;
    int status = -1;
    runner.run(
        {{"unknown", "CR2", true}, {"known", "C05", false}},
        [&](const CtlResult &result) { results.push_back(result); },
        [&](int exitStatus) { status = exitStatus; });
    QTRY_COMPARE_WITH_TIMEOUT(status, 1, kTimeoutMs);
    QCOMPARE(results.size(), std::size_t(2));
    QCOMPARE(results[0].reply, std::string("\x15\r"));
    QCOMPARE(results[0].error, std::string("NAK"));
    QCOMPARE(results[1].text, std::string("ACK"));
}

void TestKoruCtl::defaultPortShouldBeThePanelsCom1()
{
    QTemporaryDir config;
    QVERIFY(QDir(config.path()).mkpath(QStringLiteral("koru-panel")));
    QFile settings(config.filePath(QStringLiteral("koru-panel/koru-panel.conf")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("com2=/dev/nonexistent-koru\ncom1=" + m_chain->path().toLocal8Bit() + "\n");
    settings.close();
    const Run run = koruCtl({"--address", "001", "input-2"}, config.path());
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(m_chain->events(QStringLiteral("RX")).constLast(), QStringLiteral("A001 C06"));
}

void TestKoruCtl::baudShouldBeTheLinesSpeed_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("speed");
    QTest::newRow("default") << QStringList{} << int(B19200);
    QTest::newRow("9600") << QStringList{"--baud", "9600"} << int(B9600);
}

void TestKoruCtl::baudShouldBeTheLinesSpeed()
{
    QFETCH(QStringList, options);
    QFETCH(int, speed);
    // The test is the far end, and reads the line's speed while the frame is on it.
    PtyPair line;
    QVERIFY(line.isOpen());
    QProcess process;
    startKoruCtl(process, options << "--port" << line.slavePath() << "status");
    QByteArray frame;
    QTRY_VERIFY_WITH_TIMEOUT((frame += line.readMaster()).endsWith('\r'), kTimeoutMs);
    termios attributes{};
    QCOMPARE(::tcgetattr(line.masterFd(), &attributes), 0);
    QCOMPARE(int(::cfgetospeed(&attributes)), speed);
    QVERIFY(line.writeMaster("00\r"));
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.readAllStandardOutput(), QByteArray("Power ON\n"));
    QCOMPARE(process.exitCode(), 0);
}

void TestKoruCtl::logShouldMatchTheSimulatorsFrameForFrame()
{
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")),
            {"--chain", "3", "--byte-at-a-time", "--byte-gap", "2"});
    QVERIFY(sim.waitListening());
    const QString log = dir.filePath(QStringLiteral("ctl.log"));
    const Run run = koruCtl({"--port", sim.path(), "--log", log, "--address", "all", "power-on",
                             "status", "zoom-in", "--repeat", "2", "input-2", "lamp-time"});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const auto [sent, received] = readTrafficLog(log, sim.path());
    QCOMPARE(sent, QStringList({"AFFFC00\\r", "AFFFCR0\\r", "AFFFC47\\r", "AFFFC47\\r",
                                "AFFFC06\\r", "AFFFCR3\\r"}));
    QCOMPARE(std::pair(sent, received), simTraffic(sim));
}

void TestKoruCtl::panelLogShouldMatchTheSimulatorsFrameForFrame()
{
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")));
    QVERIFY(sim.waitListening());
    const DeviceMap devices{sim.path().toStdString(), "/dev/nonexistent-koru"};
    const QString logPath = dir.filePath(QStringLiteral("panel.log"));
    const auto panelTraffic = [&] { return readTrafficLog(logPath, sim.path()); };
    {
        // Wired as koru-panel --log wires it.
        QtClock clock;
        ProgramLine line(devices, clock, QFile::encodeName(logPath).toStdString());
        RecordingMessageBox messages;
        Form1 form(clock, line.control(), messages);
        form.setOnEnd([] {});
        QVERIFY(form.Form_Load());
        form.show();
        for (const char *button : {"Command17", "Command44", "Command27"}) {
            const qsizetype before = sim.events(QStringLiteral("TX")).size();
            QTest::mouseClick(form.findChild<QWidget *>(button), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(sim.events(QStringLiteral("TX")).size(), before + 1,
                                      kTimeoutMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(panelTraffic().second, simTraffic(sim).second, kTimeoutMs);
    }
    QCOMPARE(panelTraffic().first, QStringList({"C00\\r", "CR0\\r", "C05\\r"}));
    QCOMPARE(panelTraffic(), simTraffic(sim));
}

void TestKoruCtl::hostileReplyShouldFailAndNeverReachTheTerminalRaw_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    for (const char *query : {"lamp-time", "temp", "pc-type"}) {
        QTest::newRow(qPrintable(QStringLiteral("ACK to %1").arg(query)))
            << QStringList{query} << QByteArray("\x06\r") << 1 << QByteArray()
            << QByteArray("koru-ctl: ") + query + ": undecodable reply\n";
    }
    QTest::newRow("terminal controls")
        << QStringList{"pc-type"} << QByteArray("\x1b[2J\x1b]0;owned\x07\r") << 1 << QByteArray()
        << QByteArray("koru-ctl: pc-type: undecodable reply\n");
    QTest::newRow("verbose: NUL and beyond ASCII")
        << QStringList{"-v", "pc-type"} << QByteArray("KORU\0\x9b\r", 7) << 1
        << QByteArray("KORU\\x00\\x9b\\r\n")
        << QByteArray("koru-ctl: pc-type: undecodable reply\n");
    QTest::newRow("JSON") << QStringList{"--json", "pc-type"} << QByteArray("\x1b[2J\r") << 1
                          << QByteArray(
                                 "{\"command\":\"pc-type\",\"frame\":\"CR9\\u000d\",\"reply\":"
                                 "\"\\u001b[2J\\u000d\",\"error\":\"undecodable reply\"}\n")
                          << QByteArray();
    QTest::newRow("a model") << QStringList{"pc-type"} << QByteArray("ROOM-7 001\r") << 0
                             << QByteArray("ROOM-7 001\n") << QByteArray();
}

void TestKoruCtl::hostileReplyShouldFailAndNeverReachTheTerminalRaw()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reply);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    // The test is the far end.
    PtyPair line;
    QVERIFY(line.isOpen());
    QProcess process;
    startKoruCtl(process, QStringList{"--port", line.slavePath()} + arguments);
    QVERIFY(awaitFrame(line).endsWith("CR9\r") || !arguments.contains("pc-type"));
    QVERIFY(line.writeMaster(reply));
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray printed = process.readAllStandardOutput();
    const QByteArray told = process.readAllStandardError();
    QCOMPARE(printed, out);
    QCOMPARE(told, err);
    QVERIFY(isTerminalSafe(printed + told));
}

void TestKoruCtl::floodShouldNotHoldTheRunPastItsTimeOut_data()
{
    QTest::addColumn<bool>("network");
    QTest::newRow("pty") << false;
    QTest::newRow("tcp://") << true;
}

void TestKoruCtl::floodShouldNotHoldTheRunPastItsTimeOut()
{
    QFETCH(bool, network);
    // A far end that answers the first frame with bytes and never a carriage return, as fast
    // as koru-ctl takes them (over 200 MB/s on tcp://), for at most a minute.
    PtyPair line;
    QVERIFY(line.isOpen());
    int tcpPort = 0;
    const int listener = network ? Ser2NetRig::listenOn(1, &tcpPort) : -1;
    int peer = network ? -1 : line.masterFd();
    const QString port =
        network ? QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort) : line.slavePath();
    const QByteArray chunk(64 * 1024, 'x');
    bool flooding = false;
    qint64 sent = 0;
    qint64 peakKiB = 0;
    QProcess process;
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, &pump, [&] {
        if (peer < 0)
            peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (peer < 0)
            return;
        char frame[64];
        const ssize_t read = ::read(peer, frame, sizeof frame);
        flooding = flooding || (read > 0 && std::memchr(frame, '\r', std::size_t(read)));
        if (!flooding)
            return;
        // As much as the far end's buffer takes each time, 2 GiB at most in all.
        for (int i = 0; i < 64 && sent < (qint64(2) << 30); ++i) {
            const ssize_t written =
                network ? ::send(peer, chunk.constData(), std::size_t(chunk.size()), MSG_NOSIGNAL)
                        : ::write(peer, chunk.constData(), std::size_t(chunk.size()));
            if (written <= 0)
                break;
            sent += written;
        }
        peakKiB = std::max(peakKiB, residentKiB(process.processId()));
    });
    pump.start(1);
    QElapsedTimer elapsed;
    elapsed.start();
    startKoruCtl(process, {"--port", port, "status", "lamp-time"});
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
    qInfo("koru-ctl ended after %lld ms, %lld bytes sent, at most %lld KiB resident",
          elapsed.elapsed(), sent, peakKiB);
    pump.stop();
    if (network) {
        ::close(peer);
        ::close(listener);
    }
    QVERIFY(flooding);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             "koru-ctl: status: undecodable reply (256 bytes with no carriage return)\n"
             "koru-ctl: lamp-time: the line did not fall quiet for 500 ms; the frame was not "
             "sent\n");
}

void TestKoruCtl::outputErrorShouldFail_data()
{
    QTest::addColumn<QString>("stdoutFile");  // "closed", "|" for a pipe nobody reads, or a file
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("full disk") << "/dev/full" << QStringList{"--address", "001", "status"}
                               << QByteArray("No space left on device");
    QTest::newRow("full disk, --list")
        << "/dev/full" << QStringList{"--list"} << QByteArray("No space left on device");
    QTest::newRow("closed") << "closed" << QStringList{"--address", "001", "status"}
                            << QByteArray("Bad file descriptor");
    QTest::newRow("reader gone") << "|" << QStringList{"--address", "001", "status"}
                                 << QByteArray("Broken pipe");
}

void TestKoruCtl::outputErrorShouldFail()
{
    QFETCH(QString, stdoutFile);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, reason);
    arguments << "--port" << m_chain->path();
    QProcess process;
    if (stdoutFile == QLatin1String("closed") || stdoutFile == QLatin1String("|")) {
        process.setChildProcessModifier([pipe = stdoutFile == QLatin1String("|")] {
            int ends[2];
            if (pipe && ::pipe(ends) == 0) {
                ::dup2(ends[1], STDOUT_FILENO);
                ::close(ends[0]);
                ::close(ends[1]);
            } else if (!pipe) {
                ::close(STDOUT_FILENO);
            }
        });
    } else {
        process.setStandardOutputFile(stdoutFile);
    }
    process.start(QStringLiteral(KORU_CTL), arguments);
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             "koru-ctl: cannot write to standard output: " + reason + "\n");
}

void TestKoruCtl::lostLineShouldEndTheRunWithOneMessage()
{
    PtyPair line;
    QVERIFY(line.isOpen());
    QProcess process;
    startKoruCtl(process, {"--port", line.slavePath(), "--repeat", "100000", "vol-up"});
    QCOMPARE(awaitFrame(line), QByteArray("C09\r"));
    QVERIFY(line.writeMaster("\x06\r"));
    QCOMPARE(awaitFrame(line), QByteArray("C09\r"));
    line.close();
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3);
    QCOMPARE(process.readAllStandardOutput(), QByteArray("ACK\n"));
    QCOMPARE(process.readAllStandardError(), QByteArray("koru-ctl: vol-up: the line was lost\n"));
}

void TestKoruCtl::endSignalShouldReleaseThePort_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("INT") << int(SIGINT) << 130;
    QTest::newRow("TERM") << int(SIGTERM) << 143;
    QTest::newRow("HUP") << int(SIGHUP) << 129;
    QTest::newRow("USR1") << int(SIGUSR1) << 138;
}

void TestKoruCtl::endSignalShouldReleaseThePort()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    PtyPair line;
    QVERIFY(line.isOpen());
    const QString lock = lockFileOf(line.slavePath());
    QProcess process;
    startKoruCtl(process, {"--port", line.slavePath(), "--timeout", "600000", "status"});
    QCOMPARE(awaitFrame(line), QByteArray("CR0\r"));
    QVERIFY2(QFile::exists(lock), qPrintable(lock));
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(!QFile::exists(lock), qPrintable(lock));
}

void TestKoruCtl::settingsProblemsShouldBeTold_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("warning");
    QTest::newRow("byte-order mark")
        << QByteArray(
               "\xef\xbb\xbf"
               "com1=/dev/nonexistent-a\n")
        << QByteArray(
               ": line 1: \"\\xef\\xbb\\xbfcom1=/dev/nonexistent-a\" is not com1=NAME or "
               "com2=NAME; ignored\n");
    QTest::newRow("NUL in the path")
        << QByteArray("# koru\ncom1=/dev/tty\0S9\n", 25)
        << QByteArray(
               ": line 2: \"com1=/dev/tty\\x00S9\" names a device with a control "
               "character in it; ignored\n");
}

void TestKoruCtl::settingsProblemsShouldBeTold()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, warning);
    QTemporaryDir config;
    QVERIFY(QDir(config.path()).mkpath(QStringLiteral("koru-panel")));
    const QString path = config.filePath(QStringLiteral("koru-panel/koru-panel.conf"));
    QFile settings(path);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(file);
    settings.close();
    const Run run = koruCtl({"--port", "/dev/nonexistent-koru", "status"}, config.path());
    QCOMPARE(run.exitCode, 3);
    const QByteArray first = run.err.left(run.err.indexOf('\n') + 1);
    QCOMPARE(first, "koru-ctl: " + path.toLocal8Bit() + warning);
}

void TestKoruCtl::namesAreTakenAsGiven()
{
    // A port name far too long is that, not a missing device.
    const Run longName = koruCtl({"--port", "/dev/" + QString(100000, QLatin1Char('a')), "status"});
    QCOMPARE(longName.exitCode, 3);
    QVERIFY2(longName.err.contains(": File name too long.\n"), longName.err.left(200).constData());
    // A log whose name is not UTF-8 is made under that very name.
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")), {});
    QVERIFY(sim.waitListening());
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start(QStringLiteral("/bin/sh"),
                {"-c", "exec \"$0\" --port \"$1\" --log \"$(printf 'log\\377')\" status",
                 QStringLiteral(KORU_CTL), sim.path()});
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(shell.exitCode(), 0);
    const QByteArray name = QFile::encodeName(dir.path()) + "/log\xff";
    QCOMPARE(::access(name.constData(), F_OK), 0);
}

void TestKoruCtl::logNobodyReadsIsWarnedOfAndPassedBy()
{
    // A FIFO with no reader held koru-ctl in its opening for ever.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("traffic"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Sim sim(dir.filePath(QStringLiteral("sim.log")), {"--start-on"});
    QVERIFY(sim.waitListening());
    const Run run = koruCtl({"--port", sim.path(), "--log", fifo, "status"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("Power ON\n"));
    QCOMPARE(run.err, "koru-ctl: warning: cannot write the traffic log " + fifo.toLocal8Bit() +
                          ": a FIFO that nobody reads; traffic is no longer logged\n");
}

void TestKoruCtl::timestampDatesEachLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("line");  // after the date and time
    QTest::newRow("text") << QStringList{"--timestamp", "status"} << " Stand by";
    QTest::newRow("json") << QStringList{"--json", "--timestamp", "status"}
                          << "\",\"command\":\"status\"";
}

void TestKoruCtl::timestampDatesEachLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QTemporaryDir dir;
    Sim sim(dir.filePath(QStringLiteral("sim.log")), {});
    QVERIFY(sim.waitListening());
    const Run run = koruCtl(QStringList{"--port", sim.path()} + arguments);
    QCOMPARE(run.exitCode, 0);
    const QRegularExpression dated(
        QStringLiteral(R"(^(\{"time":")?\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d)(.*)\n$)"));
    const auto match = dated.match(QString::fromLatin1(run.out));
    QVERIFY2(match.hasMatch(), run.out.constData());
    QVERIFY2(match.captured(3).startsWith(line), run.out.constData());
}

void TestKoruCtl::everyProgramGivesTheOneVersionFirst_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    for (const char *option : {"--version", "-V"}) {
        QTest::addRow("koru-ctl %s", option) << QStringLiteral(KORU_CTL) << option;
        QTest::addRow("projector-sim %s", option) << QStringLiteral(PROJECTOR_SIM) << option;
        QTest::addRow("koru-panel %s", option) << QStringLiteral(KORU_PANEL) << option;
        QTest::addRow("koru-pjlink %s", option) << QStringLiteral(KORU_PJLINK) << option;
    }
}

void TestKoruCtl::everyProgramGivesTheOneVersionFirst()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QProcess process;
    process.start(program, {option});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray first = process.readAllStandardOutput().split('\n').value(0);
    QCOMPARE(first, QFileInfo(program).fileName().toLatin1() + " " + KORU_VERSION);
}

QTEST_MAIN(TestKoruCtl)
#include "tst_koructl.moc"
