#include <sys/stat.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "support/ptypair.h"
#include "support/simprocess.h"

namespace {

constexpr int kTimeoutMs = 10000;
const QString kProgram = QStringLiteral(PROJECTOR_SIM);

}  // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpShouldListEveryOption();
    void shouldRefuseBadOptionsWithUsageAndStatus2_data();
    void shouldRefuseBadOptionsWithUsageAndStatus2();
    void shouldServeAChainAndLogUntilTerminated_data();
    void shouldServeAChainAndLogUntilTerminated();
    void deviceThatIsNoTerminalIsOpenedAndClosedOnce();
    void logReaderGoingAwayDoesNotEndTheSimulator();
    void logThatCannotBeWrittenIsWarnedOfOnce();
    void firstLineSaysWhereItListensOnADeviceToo();
};

void TestSimProgram::helpShouldListEveryOption()
{
    QProcess process;
    process.start(kProgram, {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char *option : {"--chain", "--device", "--delay", "--silent", "--byte-at-a-time",
                               "--unasked", "--unasked-rate", "--pace", "--log", "--baud"})
        QVERIFY2(help.contains(QString::fromLatin1(option)), option);
}

void TestSimProgram::shouldRefuseBadOptionsWithUsageAndStatus2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("chain too long") << QStringList{"--chain", "5"} << "--chain";
    QTest::newRow("chain not a number") << QStringList{"--chain", "two"} << "--chain";
    QTest::newRow("negative delay") << QStringList{"--delay", "-1"} << "--delay";
    QTest::newRow("missing value") << QStringList{"--delay"} << "delay";
    QTest::newRow("bad reversal") << QStringList{"--reversal", "sideways"} << "--reversal";
    QTest::newRow("bad escape") << QStringList{"--unasked", "\\q"} << "--unasked";
    QTest::newRow("zero rate") << QStringList{"--unasked-rate", "0"} << "--unasked-rate";
    QTest::newRow("rate too small to time")
        << QStringList{"--unasked-rate", "1e-300"} << "--unasked-rate";
    QTest::newRow("any device with no device") << QStringList{"--any-device"} << "--device";
    QTest::newRow("stray argument") << QStringList{"extra"} << "extra";
}

void TestSimProgram::shouldRefuseBadOptionsWithUsageAndStatus2()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    QProcess process;
    process.start(kProgram, arguments);
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.startsWith(QStringLiteral("projector-sim: ")), qPrintable(error));
    QVERIFY2(error.section(QLatin1Char('\n'), 0, 0).contains(complaint), qPrintable(error));
    QCOMPARE(error.section(QLatin1Char('\n'), 1),
             QStringLiteral("Try 'projector-sim --help' for more information.\n"));
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestSimProgram::shouldServeAChainAndLogUntilTerminated_data()
{
    QTest::addColumn<bool>("logToFile");
    QTest::addColumn<int>("signal");
    QTest::newRow("log on standard output, SIGTERM") << false << SIGTERM;
    QTest::newRow("log to a file, SIGINT") << true << SIGINT;
}

void TestSimProgram::shouldServeAChainAndLogUntilTerminated()
{
    QFETCH(bool, logToFile);
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("sim.log"));
    QStringList arguments{"--chain", "2"};
    if (logToFile)
        arguments << "--log" << logPath;

    QProcess process;
    QByteArray output;
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&] { output += process.readAllStandardOutput(); });
    process.start(kProgram, arguments);
    QTRY_VERIFY_WITH_TIMEOUT(!simListeningPath(output).isEmpty(), kTimeoutMs);

    QSerialPort port(simListeningPath(output));
    port.setBaudRate(19200);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QByteArray received;
    connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });
    port.write("A002CR0\rA001C00\r");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("80\r\x06\r"), kTimeoutMs);
    port.close();

    ::kill(static_cast<pid_t>(process.processId()), signal);
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, kTimeoutMs);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    output += process.readAllStandardOutput();

    QByteArray log = output;
    if (logToFile) {
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        log = file.readAll();
        // Standard output then carries the one line scripts wait for, nothing else.
        QCOMPARE(output.count('\n'), 1);
    }
    const QString text = QString::fromLatin1(log);
    for (const char *expected :
         {"^# \\d+\\.\\d{6} on CLOCK_MONOTONIC is ", "^\\d+\\.\\d{6} OPENED$",
          "^\\d+\\.\\d{6} RX A002 CR0$", "^\\d+\\.\\d{6} TX 2 80\\\\r$",
          "^\\d+\\.\\d{6} RX A001 C00$", "^\\d+\\.\\d{6} TX 1 \\\\x06\\\\r$"}) {
        const QRegularExpression line(QString::fromLatin1(expected),
                                      QRegularExpression::MultilineOption);
        QVERIFY2(line.match(text).hasMatch(),
                 qPrintable(QStringLiteral("%1 in\n%2").arg(expected, text)));
    }
}

void TestSimProgram::deviceThatIsNoTerminalIsOpenedAndClosedOnce()
{
    // Refused unless asked for.
    QProcess refused;
    refused.start(kProgram, {"--device", "/dev/null"});
    QVERIFY(refused.waitForFinished(kTimeoutMs));
    QCOMPARE(refused.exitCode(), 1);
    QCOMPARE(refused.readAllStandardError(),
             QByteArray("projector-sim: /dev/null is not a terminal; --any-device serves it all "
                        "the same\n"));
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("sim.log"));
    QProcess process;
    process.start(kProgram, {"--device", "/dev/null", "--any-device", "--log", logPath, "--unasked",
                             "x", "--unasked-rate", "1000"});
    QFile log(logPath);
    const auto logText = [&log] {
        log.open(QIODevice::ReadOnly);
        const QString text = QString::fromLatin1(log.readAll());
        log.close();
        return text;
    };
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains(QLatin1String(" CLOSED")), kTimeoutMs);
    // A real program's own timers: it is given time to go wrong (it polled the device back
    // every 20 ms, and logged each time).
    QTest::qWait(300);
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, kTimeoutMs);
    QCOMPARE(process.exitCode(), 0);
    const QString text = logText();
    QCOMPARE(text.count(QLatin1String(" OPENED")), 1);
    QCOMPARE(text.count(QLatin1String(" CLOSED")), 1);
    QVERIFY2(text.count(QLatin1String(" UNASKED")) <= 1, qPrintable(text));
}

void TestSimProgram::logReaderGoingAwayDoesNotEndTheSimulator()
{
    // projector-sim | head -n 1: the log goes on to a pipe whose reader has gone.
    QProcess process;
    QProcess head;
    process.setStandardOutputProcess(&head);
    QByteArray output;
    connect(&head, &QProcess::readyReadStandardOutput, this,
            [&] { output += head.readAllStandardOutput(); });
    head.start(QStringLiteral("head"), {"-n", "1"});
    process.start(kProgram, {"--chain", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(!simListeningPath(output).isEmpty(), kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(head.state(), QProcess::NotRunning, kTimeoutMs);

    QSerialPort port(simListeningPath(output));
    port.setBaudRate(19200);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QByteArray received;
    connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });
    port.write("C00\r");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("\x06\r"), kTimeoutMs);
    port.close();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, kTimeoutMs);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TestSimProgram::logThatCannotBeWrittenIsWarnedOfOnce()
{
    // A FIFO that nobody reads: the simulator neither waits for a reader nor stops.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("log"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess process;
    process.start(kProgram, {"--log", fifo});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(!simListeningPath(output += process.readAllStandardOutput()).isEmpty(),
                             kTimeoutMs);
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, kTimeoutMs);
    QCOMPARE(process.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(errors, QStringLiteral("projector-sim: warning: cannot write the log %1: a FIFO that "
                                    "nobody reads; traffic is not logged\n")
                         .arg(fifo));
}

void TestSimProgram::firstLineSaysWhereItListensOnADeviceToo()
{
    PtyPair line;
    QVERIFY(line.isOpen());
    QProcess process;
    process.start(kProgram, {"--device", line.slavePath()});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += process.readAllStandardOutput()).count('\n') >= 3,
                             kTimeoutMs);
    process.kill();
    process.waitForFinished(kTimeoutMs);
    QCOMPARE(simListeningPath(output), line.slavePath());
    QVERIFY2(output.split('\n').value(2).endsWith(" OPENED"), output.constData());
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
