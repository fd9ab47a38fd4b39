// The real koru-panel program on a pseudo-terminal: a signal to end lets go of the port as
// END does, so the next program can have it.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
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
    void savePortsKeepsWhatItDoesNotOwn();
    void savePortsMakesANewFileWritableByItsOwnerAlone();
    void settingsFileNotToBeWrittenIsLeftAlone_data();
    void settingsFileNotToBeWrittenIsLeftAlone();
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

namespace {

struct Saving {
    int exitCode = -1;
    QByteArray errors;
};

// A user's permissions, for a test that runs as root, who may write any file: nobody's, with
// config and what is in it made nobody's.
constexpr uid_t kNobody = 65534;

void ownAsNobody(const QString &config)
{
    if (::geteuid() != 0)
        return;
    QDirIterator files(config, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    QStringList paths{config};
    while (files.hasNext())
        paths << files.next();
    for (const QString &path : paths)
        QVERIFY(::lchown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0);
}

// koru-panel --save-ports with its settings under config, as nobody if asked (and root).
Saving savePorts(const QString &config, const QStringList &arguments, bool asNobody = false)
{
    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    panel.setProcessEnvironment(environment);
    if (asNobody && ::geteuid() == 0) {
        panel.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(127);
        });
    }
    panel.start(QStringLiteral(KORU_PANEL),
                QStringList{QStringLiteral("--save-ports")} + arguments);
    if (!panel.waitForFinished(kTimeoutMs))
        panel.kill();
    return {panel.exitCode(), panel.readAllStandardError()};
}

}  // namespace

void TestPanelProgram::savePortsKeepsWhatItDoesNotOwn()
{
    // A settings file kept elsewhere behind a link, private, with a comment and a line of
    // another program's.
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("koru-panel"));
    QVERIFY(QDir().mkpath(folder));
    const QString kept = dir.filePath(QStringLiteral("kept.conf"));
    const QByteArray own = "# the projector room\ncom1=/dev/ttyUSB0\ntheme=dark\n";
    QFile file(kept);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(own) == own.size());
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    const QString link = folder + QStringLiteral("/koru-panel.conf");
    QVERIFY(QFile::link(kept, link));

    const Saving saving =
        savePorts(dir.path(), {QStringLiteral("--com1"), QStringLiteral("/dev/ttyUSB1")});
    QCOMPARE(saving.exitCode, 0);
    QVERIFY(QFileInfo(link).isSymLink());
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(kept).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("# the projector room\ncom1=/dev/ttyUSB1\ntheme=dark\ncom2=/dev/ttyS1\n"));
}

void TestPanelProgram::savePortsMakesANewFileWritableByItsOwnerAlone()
{
    // 0644 under the umask, as ever: a umask of 002 leaves no group-writable settings file.
    QTemporaryDir dir;
    const mode_t umask = ::umask(002);
    const Saving saving =
        savePorts(dir.path(), {QStringLiteral("--com2"), QStringLiteral("/dev/ttyUSB1")});
    ::umask(umask);
    QCOMPARE(saving.exitCode, 0);
    struct stat info {};
    const QString path = dir.filePath(QStringLiteral("koru-panel/koru-panel.conf"));
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0644u);
}

void TestPanelProgram::settingsFileNotToBeWrittenIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "not a regular file";
    QTest::newRow("a megabyte") << "big"
                                << "larger than 16 KiB";
    QTest::newRow("byte-order mark") << "bom"
                                     << "byte-order mark";
    QTest::newRow("read-only") << "read-only"
                               << "is read-only; make it writable, then save again";
}

void TestPanelProgram::settingsFileNotToBeWrittenIsLeftAlone()
{
    QFETCH(QString, kind);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("koru-panel"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/koru-panel.conf");
    QFile file(path);
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "zero") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kind == "big"   ? QByteArray(1 << 20, '#')
                   : kind == "bom" ? QByteArray("\xef\xbb\xbf"
                                                "com1=/dev/x\n")
                                   : QByteArray("com1=/dev/x\n"));
        file.close();
    }
    if (kind == "read-only") {
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        ownAsNobody(dir.path());
    }
    const QByteArray before = kind == "fifo" || kind == "zero" ? QByteArray() : [&] {
        file.open(QIODevice::ReadOnly);
        const QByteArray text = file.readAll();
        file.close();
        return text;
    }();
    const Saving saving =
        savePorts(dir.path(), {QStringLiteral("--com1"), QStringLiteral("/dev/ttyUSB1")},
                  kind == "read-only");
    // Refused in good time, with the reason, and the file as it was.
    QCOMPARE(saving.exitCode, 1);
    QVERIFY2(saving.errors.contains(says.toLatin1()), saving.errors.constData());
    QVERIFY2(saving.errors.contains("cannot save the ports"), saving.errors.constData());
    if (!before.isEmpty()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

QTEST_GUILESS_MAIN(TestPanelProgram)
#include "tst_panelprogram.moc"
