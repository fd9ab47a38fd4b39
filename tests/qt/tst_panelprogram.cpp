// The real koru-panel program on a pseudo-terminal: a signal to end lets go of the port as
// END does, so the next program can have it.
#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>

#include "support/ptypair.h"

namespace {

constexpr int kTimeoutMs = 10000;

}  // namespace

class TestPanelProgram : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void signalToEndReleasesThePort_data();
    void signalToEndReleasesThePort();
    void startUpFailureAlsoGoesToStandardError();
    void usageErrorIsOneLineAndAPointerToTheHelp();
    void noDisplayIsSaidInOneLine();
};

void TestPanelProgram::signalToEndReleasesThePort_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGQUIT") << SIGQUIT;
    QTest::newRow("SIGUSR1") << SIGUSR1;
    QTest::newRow("SIGUSR2") << SIGUSR2;
    QTest::newRow("SIGALRM") << SIGALRM;
}

void TestPanelProgram::signalToEndReleasesThePort()
{
    QFETCH(int, signal);
    PtyPair line;
    QVERIFY(line.isOpen());
    const QByteArray path = line.slavePath().toLocal8Bit();
    QProcess panel;
    panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // On Qt's offscreen platform, which the test's environment chooses.
    panel.start(QStringLiteral(KORU_PANEL),
                {QStringLiteral("--com1"), line.slavePath(), QStringLiteral("--com2"),
                 QStringLiteral("/nonexistent")});
    QVERIFY(panel.waitForStarted(kTimeoutMs));
    // The panel has the port once it holds the device's exclusive use, which it takes after
    // its lock. Only then is the lock looked at: looking takes it for a moment, and a panel
    // that came for it in that moment would find the port in use.
    QTRY_COMPARE_WITH_TIMEOUT(exclusiveUse(path.constData()), 1, kTimeoutMs);
    QVERIFY(advisoryLocked(path.constData()));

    // A reader gone from a pipe is no end: SIGPIPE first, and the panel is still there.
    ::kill(static_cast<pid_t>(panel.processId()), SIGPIPE);
    QTest::qWait(100);
    QCOMPARE(panel.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(panel.processId()), signal);
    QTRY_COMPARE_WITH_TIMEOUT(panel.state(), QProcess::NotRunning, kTimeoutMs);
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
    QCOMPARE(exclusiveUse(path.constData()), 0);
    QVERIFY(!advisoryLocked(path.constData()));
    QVERIFY(!QFile::exists(serialLockPath(line.slavePath())));
}

void TestPanelProgram::startUpFailureAlsoGoesToStandardError()
{
    // The start-up box waits for its OK; by then its text is on standard error already.
    QProcess panel;
    panel.start(QStringLiteral(KORU_PANEL),
                {QStringLiteral("--com1"), QStringLiteral("/nonexistent/koru-tty")});
    QVERIFY(panel.waitForStarted(kTimeoutMs));
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += panel.readAllStandardError())
                                 .contains("Error 1: Cannot open COM1 (/nonexistent/koru-tty)"),
                             kTimeoutMs);
    panel.kill();
    panel.waitForFinished(kTimeoutMs);
}

void TestPanelProgram::usageErrorIsOneLineAndAPointerToTheHelp()
{
    QProcess panel;
    panel.start(QStringLiteral(KORU_PANEL), {QStringLiteral("--com1")});
    QVERIFY(panel.waitForFinished(kTimeoutMs));
    QCOMPARE(panel.exitCode(), 2);
    QCOMPARE(panel.readAllStandardError(),
             QByteArray("koru-panel: option '--com1' needs a device path\n"
                        "Try 'koru-panel --help' for more information.\n"));
    QVERIFY(panel.readAllStandardOutput().isEmpty());
}

void TestPanelProgram::noDisplayIsSaidInOneLine()
{
    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(KORU_PANEL),
                {QStringLiteral("--com1"), QStringLiteral("/dev/null")});
    QVERIFY(panel.waitForFinished(kTimeoutMs));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 1);
    const QByteArray errors = panel.readAllStandardError();
    QVERIFY2(errors.startsWith("koru-panel: no display found") && errors.count('\n') == 1,
             errors.constData());
}

QTEST_GUILESS_MAIN(TestPanelProgram)
#include "tst_panelprogram.moc"
