// koru-ctl against projector-sim on a pseudo-terminal: every name sends its frame, every query
// reads the simulator's state, the exit statuses, the JSON, and the traffic logs of koru-ctl
// and of the panel line for line against the simulator's own.
#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

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
#include "widgets/form1.h"

namespace {

constexpr int kTimeoutMs = 10000;

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// projector-sim as a child process, logging to a file.
class Sim {
public:
    explicit Sim(const QString &logPath, QStringList options = {}) : m_logPath(logPath)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { m_output += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(PROJECTOR_SIM), options << "--log" << logPath);
    }
    ~Sim()
    {
        m_process.terminate();
        m_process.waitForFinished(kTimeoutMs);
    }
    bool waitListening()
    {
        static const QRegularExpression line(QStringLiteral("listening on (\\S+)\n"));
        if (!QTest::qWaitFor(
                [&] { return line.match(QString::fromLocal8Bit(m_output)).hasMatch(); },
                kTimeoutMs))
            return false;
        m_path = line.match(QString::fromLocal8Bit(m_output)).captured(1);
        return true;
    }
    const QString &path() const { return m_path; }
    // The log's events of one kind ("RX", "TX"): the text after the kind.
    QStringList events(const QString &kind) const
    {
        QFile file(m_logPath);
        QStringList found;
        if (!file.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString text = QString::fromLatin1(line);
            if (text.section(QLatin1Char(' '), 1, 1) == kind)
                found << text.section(QLatin1Char(' '), 2);
        }
        return found;
    }

private:
    QProcess m_process;
    QByteArray m_output;
    QString m_logPath;
    QString m_path;
};

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
    void shouldExitWith1OnNakForAnUnknownCode();
    void defaultPortShouldBeThePanelsCom1();
    void baudShouldBeTheLinesSpeed_data();
    void baudShouldBeTheLinesSpeed();
    void logShouldMatchTheSimulatorsFrameForFrame();
    void panelLogShouldMatchTheSimulatorsFrameForFrame();

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
        << "koru-ctl: Cannot open COM1 (/dev/nonexistent-koru): no "
           "such device.\nConnect the serial adapter, or start koru-ctl with --port PATH";
    QTest::newRow("usage") << QStringList{} << QStringList{"--port", "/dev/null", "power-of"} << 2
                           << ""
                           << "koru-ctl: unknown command 'power-of'";
    QTest::newRow("bad address") << QStringList{} << QStringList{"--address", "005", "status"} << 2
                                 << ""
                                 << "koru-ctl: option '--address' takes single";
    QTest::newRow("list") << QStringList{} << QStringList{"--list"} << 0
                          << "power-on          C00  POWER ON\n"
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
        ProgramLine line(devices, clock, logPath);
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

QTEST_MAIN(TestKoruCtl)
#include "tst_koructl.moc"
