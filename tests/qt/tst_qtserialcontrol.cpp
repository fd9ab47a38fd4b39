// The serial control on a real pseudo-terminal: what reaches the far end, what comes back,
// the line speed, exclusive use, failures to open, and a far end that goes away.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QLockFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "qt/deviceline.h"
#include "qt/linethread.h"
#include "qt/opendiagnosis.h"
#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "qt/serialdevices.h"
#include "support/panelfixture.h"
#include "support/ptypair.h"
#include "support/recordingevents.h"

namespace {

// The far end of a line: the master side of a pseudo-terminal whose slave the panel opens.
class FarEnd {
public:
    FarEnd()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_slave = ::ptsname(m_master);
    }
    ~FarEnd() { close(); }

    bool ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string &path() const { return m_slave; }

    void close()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void write(const std::string &bytes) const
    {
        [[maybe_unused]] const auto n = ::write(m_master, bytes.data(), bytes.size());
    }
    // What has arrived so far, waiting up to timeoutMs for at least count bytes.
    std::string read(std::size_t count, int timeoutMs = 5000)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (m_received.size() < count && elapsed.elapsed() < timeoutMs) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN)) {
                char buffer[256];
                const auto n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    m_received.append(buffer, std::size_t(n));
            }
            QCoreApplication::processEvents();
        }
        return std::exchange(m_received, {});
    }
    speed_t outputSpeed() const
    {
        termios settings{};
        ::tcgetattr(m_master, &settings);
        return ::cfgetospeed(&settings);
    }

private:
    int m_master = -1;
    std::string m_slave;
    std::string m_received;
};

const QtClock lineClock;

DeviceMap onFarEnd(const FarEnd &farEnd, std::string com2 = "/nonexistent/ttyS1")
{
    return DeviceMap{farEnd.path(), std::move(com2)};
}

}  // namespace

class TestQtSerialControl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void frameArrivesAtTheFarEndByteForByte();
    void receiveEventComesAsSoonAsOneByteWaits();
    void highBytesEachBecomeOneCharacter();
    void panelShowsTheReplyAndChangesTheLineSpeed();
    void secondOpeningOfTheSamePortFails();
    void missingDeviceSaysWhichPathAndWhatToDo();
    void permissionDeniedSaysWhatWouldHelp_data();
    void permissionDeniedSaysWhatWouldHelp();
    void oneLineProgramNamesItsPortAndNeverSuggestsTheOneThatFailed_data();
    void oneLineProgramNamesItsPortAndNeverSuggestsTheOneThatFailed();
    void farEndGoingAwayClosesThePortQuietly();
    void writesWhileClosedGoNowhere();
    void framesBeyondTheOutputBufferAreDroppedWhole();
    void failedOpenLeavesTheHolderItsExclusiveUse();
    void lockFileWithNoOtherHolderIsNamedWithItsProcess();
    void farEndThatStopsReadingCostsFramesNotThePort();
    void deviceIsSetUpWhateverItsLastUserLeft();
    void lineSettingsAsTheDeviceTakesThem_data();
    void lineSettingsAsTheDeviceTakesThem();
    void thisThreadWatchesNothingOnTheLine();
    void pathsOpenAsGiven_data();
    void pathsOpenAsGiven();
    void deviceListingOpensNoPortThatSysfsDescribes();
    void lineWithNoEventfdStillWritesReadsAndStops();
    void noDescriptorLeftIsSaidSo();
    void threadRunsOnlyWhileALineNeedsOne();
    void threadThatCannotStartFailsTheOpening_data();
    void threadThatCannotStartFailsTheOpening();
};

void TestQtSerialControl::frameArrivesAtTheFarEndByteForByte()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    comm.setCommPort(1);
    QVERIFY(comm.setSettings("19200,N,8,1"));
    QCOMPARE(comm.setPortOpen(true).has_value(), false);
    QVERIFY(comm.portOpen());
    QCOMPARE(farEnd.outputSpeed(), speed_t(B19200));
    comm.output("C00\r");
    QCOMPARE(farEnd.read(4), std::string("\x43\x30\x30\x0d"));
    comm.output("A003C00\r");
    QCOMPARE(farEnd.read(8), std::string("A003C00\r"));
}

void TestQtSerialControl::receiveEventComesAsSoonAsOneByteWaits()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    RecordingEvents events;
    comm.setEvents(&events);
    QVERIFY(!comm.setPortOpen(true));
    farEnd.write("\x06");
    QTRY_COMPARE(events.bytes, std::string("\x06"));
    farEnd.write("\r");
    QTRY_COMPARE(events.bytes, std::string("\x06\r"));
    QVERIFY(events.receptions >= 2);
}

void TestQtSerialControl::highBytesEachBecomeOneCharacter()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    RecordingEvents events;
    comm.setEvents(&events);
    const std::string &received = events.bytes;
    QVERIFY(!comm.setPortOpen(true));
    farEnd.write(std::string("\x00\x80\xff\xe3\x81\x82", 6));
    QTRY_COMPARE(received.size(), std::size_t(6));
    QCOMPARE(received, std::string("\x00\x80\xff\xe3\x81\x82", 6));
}

void TestQtSerialControl::panelShowsTheReplyAndChangesTheLineSpeed()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    VirtualClock clock;
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    RecordingMessageBox messages;
    Form1 form(clock, comm, messages);
    form.setOnEnd([] {});
    QVERIFY(form.Form_Load());
    form.show();
    QTest::mouseClick(form.findChild<QWidget *>("Command17"), Qt::LeftButton);
    QCOMPARE(farEnd.read(4), std::string("C00\r"));
    farEnd.write("\x06\r");
    auto *rxd = form.findChild<QLabel *>("Label12");
    QTRY_COMPARE(rxd->text(), QStringLiteral(" &CR "));

    QTest::mouseClick(form.findChild<QWidget *>("Command33"), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QWidget *>("Option10"), Qt::LeftButton);
    QCOMPARE(farEnd.outputSpeed(), speed_t(B9600));
    QVERIFY(comm.portOpen());
    QTest::mouseClick(form.findChild<QWidget *>("Command44"), Qt::LeftButton);
    QCOMPARE(farEnd.read(4), std::string("CR0\r"));
    QVERIFY(messages.shown.empty());
}

void TestQtSerialControl::secondOpeningOfTheSamePortFails()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl first(onFarEnd(farEnd), lineClock);
    QtSerialControl second(onFarEnd(farEnd), lineClock);
    QVERIFY(!first.setPortOpen(true));
    const auto error = second.setPortOpen(true);
    QVERIFY(error.has_value());
    QVERIFY(!second.portOpen());
    QVERIFY2(error->description.find("in use by another program") != std::string::npos,
             error->description.c_str());
    QVERIFY(error->description.find(farEnd.path()) != std::string::npos);
    // Once the first lets go, the port can be had.
    first.closePort();
    QVERIFY(!second.setPortOpen(true));
}

void TestQtSerialControl::missingDeviceSaysWhichPathAndWhatToDo()
{
    QtSerialControl comm(DeviceMap{"/nonexistent/ttyS0", "/nonexistent/ttyS1"}, lineClock);
    comm.setCommPort(2);
    const auto error = comm.setPortOpen(true);
    QVERIFY(error.has_value());
    QCOMPARE(error->code, SerialErrorCode::NoSuchDevice);
    const std::string &text = error->description;
    QVERIFY2(text.find("COM2 (/nonexistent/ttyS1): no such device") != std::string::npos,
             text.c_str());
    QVERIFY(text.find("--com2 PATH") != std::string::npos);
    QVERIFY(!comm.portOpen());
}

void TestQtSerialControl::permissionDeniedSaysWhatWouldHelp_data()
{
    QTest::addColumn<uint>("mode");
    QTest::addColumn<QStringList>("says");
    QTest::newRow("group may read and write")
        << 0660u << QStringList{"which may read and write it", "usermod -aG %group"};
    QTest::newRow("owner only") << 0600u
                                << QStringList{"Only its owner, root,", "(mode 0600)", "udev rule",
                                               "usermod -aG dialout"};
    QTest::newRow("every user may") << 0666u << QStringList{"(0666)", "getfacl"};
}

void TestQtSerialControl::permissionDeniedSaysWhatWouldHelp()
{
    QFETCH(uint, mode);
    QFETCH(QStringList, says);
    // A device the user may not open: a file of the row's mode owned by root, looked at by a
    // user who is neither its owner nor in its group (root sees past permissions, so it looks
    // as nobody in a child process).
    if (::geteuid() != 0)
        QSKIP("needs root, to make a file that nobody may open");
    const QString path = QDir::tempPath() + "/koru-denied-" + QString::number(::getpid());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const std::string device = path.toStdString();
    QVERIFY(::chmod(device.c_str(), mode) == 0);
    const bool denied = (mode & 06) == 0;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        ::_exit(diagnoseOpenFailure(device) == SerialErrorCode::PermissionDenied ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string text =
        describeOpenFailure(1, device, SerialErrorCode::PermissionDenied, "Permission denied");
    const QString group = QString::fromStdString(deviceGroup(device));
    QFile::remove(path);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), denied ? 0 : 1);
    QVERIFY2(text.find("permission denied.") != std::string::npos, text.c_str());
    for (QString fragment : says) {
        fragment.replace("%group", group);
        QVERIFY2(text.find(fragment.toStdString()) != std::string::npos, text.c_str());
    }
    // A group is named only where it may read and write the device.
    if (!(mode & 060))
        QVERIFY2(text.find("-aG " + group.toStdString()) == std::string::npos || group == "dialout",
                 text.c_str());
}

void TestQtSerialControl::oneLineProgramNamesItsPortAndNeverSuggestsTheOneThatFailed_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("remedy");
    QTest::newRow("koru-ctl") << "koru-ctl"
                              << "start koru-ctl with --port PATH";
    QTest::newRow("koru-pjlink") << "koru-pjlink"
                                 << "set line = PATH for the projector in koru-pjlink's";
}

void TestQtSerialControl::oneLineProgramNamesItsPortAndNeverSuggestsTheOneThatFailed()
{
    QFETCH(QString, program);
    QFETCH(QString, remedy);
    const std::vector<std::string> devices = listSerialDevices();
    if (devices.empty())
        QSKIP("this machine has no serial device to fail");
    const std::string failed = devices.front();
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(program);
    const std::string text = describeOpenFailure(1, failed, SerialErrorCode::InUse, {});
    QCoreApplication::setApplicationName(name);
    QVERIFY2(text.starts_with("Cannot open " + failed + ": the port is in use"), text.c_str());
    QVERIFY2(text.find("COM1") == std::string::npos, text.c_str());
    QVERIFY2(text.find(remedy.toStdString()) != std::string::npos, text.c_str());
    QVERIFY2(text.find("koru-panel") == std::string::npos, text.c_str());
    // The listing offers the other devices only.
    const std::string listing = text.substr(text.find("\n", text.find(remedy.toStdString())) + 1);
    QVERIFY2(listing.find(failed) == std::string::npos, text.c_str());
}

void TestQtSerialControl::farEndGoingAwayClosesThePortQuietly()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    RecordingEvents events;
    comm.setEvents(&events);
    QVERIFY(!comm.setPortOpen(true));
    farEnd.close();
    QTRY_VERIFY(!comm.portOpen());
    QCOMPARE(events.losses, 1);
    QVERIFY(!comm.output("C00\r"));
    QVERIFY(events.bytes.empty());
    // Closing it again, as END does, is harmless.
    QVERIFY(!comm.setPortOpen(false));
}

void TestQtSerialControl::writesWhileClosedGoNowhere()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    comm.output("C00\r");
    QVERIFY(!comm.setPortOpen(true));
    QCOMPARE(farEnd.read(1, 200), std::string());
}

void TestQtSerialControl::framesBeyondTheOutputBufferAreDroppedWhole()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    QVERIFY(comm.setSettings("9600,N,8,1"));
    QVERIFY(!comm.setPortOpen(true));
    // 100 prefixed frames at once: 800 bytes, of which the 512-byte buffer takes 64 frames.
    for (int i = 0; i < 100; ++i)
        comm.output("A001C3A\r");
    QCOMPARE(comm.droppedFrames(), quint64(36));
    QVERIFY(comm.pendingOutput() <= QtSerialControl::kOutputBufferBytes);
    const std::string received = farEnd.read(512, 3000);
    QCOMPARE(received.size(), std::size_t(512));
    for (std::size_t at = 0; at < received.size(); at += 8)
        QCOMPARE(received.substr(at, 8), std::string("A001C3A\r"));
    // The line carries 960 bytes a second: once it has, frames fit again.
    QTRY_VERIFY_WITH_TIMEOUT(comm.pendingOutput() == 0, 3000);
    comm.output("C00\r");
    QCOMPARE(comm.droppedFrames(), quint64(36));
    QCOMPARE(farEnd.read(4), std::string("C00\r"));
}

void TestQtSerialControl::failedOpenLeavesTheHolderItsExclusiveUse()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    // A program that takes the device without lock files: exclusive use and the advisory lock.
    const char *path = farEnd.path().c_str();
    const int holder = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(holder >= 0);
    QVERIFY(::ioctl(holder, TIOCEXCL) == 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
    const speed_t speed = farEnd.outputSpeed();
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    QVERIFY(comm.setSettings(speed == B9600 ? "19200,N,8,1" : "9600,N,8,1"));
    const auto error = comm.setPortOpen(true);
    // The refused opening touched neither the holder's exclusive use nor its line speed.
    const int exclusive = exclusiveUse(path);
    const speed_t after = farEnd.outputSpeed();
    ::close(holder);
    QVERIFY(error.has_value());
    QCOMPARE(error->code, SerialErrorCode::InUse);
    QCOMPARE(exclusive, 1);
    QCOMPARE(after, speed);
}

void TestQtSerialControl::lockFileWithNoOtherHolderIsNamedWithItsProcess()
{
    // A program that locks with the serial layer's lock file alone, in a process of its own.
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    const QString lock = serialLockPath(QString::fromStdString(farEnd.path()));
    const pid_t child = ::fork();
    if (child == 0) {
        QLockFile held(lock);
        held.setStaleLockTime(0);
        if (!held.tryLock())
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    QTRY_VERIFY(QFile::exists(lock));
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    const auto error = comm.setPortOpen(true);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    QFile::remove(lock);
    QVERIFY(error.has_value());
    QCOMPARE(error->code, SerialErrorCode::InUse);
    const std::string expected =
        "The lock file " + lock.toStdString() + " names process " + std::to_string(child);
    QVERIFY2(error->description.find(expected) != std::string::npos, error->description.c_str());
}

void TestQtSerialControl::farEndThatStopsReadingCostsFramesNotThePort()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    // Virtual time runs on between frames, so the line's own pace never holds one back: only
    // the operating system's queue, full because nobody reads it, does.
    VirtualClock clock;
    QtSerialControl comm(onFarEnd(farEnd), clock);
    RecordingEvents events;
    comm.setEvents(&events);
    QVERIFY(!comm.setPortOpen(true));
    const std::string frame(500, 'x');
    for (int i = 0; i < 2000 && comm.droppedFrames() == 0; ++i) {
        comm.output(frame);
        clock.advance(1000);
    }
    QVERIFY(comm.droppedFrames() > 0);
    QCoreApplication::processEvents();
    QVERIFY(comm.portOpen());
    QCOMPARE(events.losses, 0);
    // Once the far end reads again, what was held goes out and frames fit again.
    farEnd.read(std::size_t(-1), 1000);
    QTRY_COMPARE(comm.pendingOutput(), qint64(0));
    QVERIFY(comm.output("C00\r"));
    QVERIFY(farEnd.read(4).ends_with("C00\r"));
}

void TestQtSerialControl::pathsOpenAsGiven_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("relative");
    QTest::newRow("relative to the current directory") << QByteArray("koru-line") << true;
    QTest::newRow("not UTF-8") << QByteArray("koru-\xff-line") << false;
}

void TestQtSerialControl::pathsOpenAsGiven()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, relative);
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QTemporaryDir dir;
    const std::string link = dir.path().toStdString() + "/" + name.toStdString();
    QVERIFY(::symlink(farEnd.path().c_str(), link.c_str()) == 0);
    char here[PATH_MAX];
    QVERIFY(::getcwd(here, sizeof here));
    if (relative)
        QVERIFY(::chdir(dir.path().toLocal8Bit().constData()) == 0);
    QtSerialControl comm(DeviceMap{relative ? name.toStdString() : link, "/nonexistent/ttyS1"},
                         lineClock);
    const auto error = comm.setPortOpen(true);
    QVERIFY(::chdir(here) == 0);
    QVERIFY2(!error, error ? error->description.c_str() : "");
    QVERIFY(comm.output("C00\r"));
    QCOMPARE(farEnd.read(4), std::string("C00\r"));
    // The lock file names the device the link leads to, as a program opening it directly does.
    QVERIFY(QFile::exists(serialLockPath(QString::fromStdString(farEnd.path()))));
}

void TestQtSerialControl::deviceIsSetUpWhateverItsLastUserLeft()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    // The device's own settings, seen through a descriptor of the slave opened before the
    // panel's, on which a previous user left handshaking on and a cooked line. (It also cleared
    // CREAD and CLOCAL, which a pseudo-terminal keeps on whatever it is told: the settings'
    // builder below shows they are set on every device.)
    const int device = ::open(farEnd.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(device >= 0);
    const auto settings = [device] {
        termios now{};
        ::tcgetattr(device, &now);
        return now;
    };
    termios left = settings();
    left.c_cflag &= ~tcflag_t(CREAD | CLOCAL);
    left.c_cflag |= CRTSCTS;
    left.c_iflag |= IXON | IXOFF | ICRNL;
    left.c_lflag |= ICANON | ECHO;
    QVERIFY(::tcsetattr(device, TCSANOW, &left) == 0);
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    QVERIFY(comm.setSettings("9600,N,8,1"));
    QVERIFY(!comm.setPortOpen(true));
    const termios line = settings();
    QCOMPARE(line.c_cflag & (CREAD | CLOCAL | CRTSCTS | CSIZE | PARENB | CSTOPB),
             tcflag_t(CREAD | CLOCAL | CS8));
    QCOMPARE(line.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
    QCOMPARE(line.c_lflag & (ICANON | ECHO), tcflag_t(0));
    QCOMPARE(::cfgetispeed(&line), speed_t(B9600));
    // And finds it again as it was once the port closes.
    comm.closePort();
    const tcflag_t after = settings().c_cflag;
    ::close(device);
    QCOMPARE(after & CRTSCTS, tcflag_t(CRTSCTS));
}

void TestQtSerialControl::lineSettingsAsTheDeviceTakesThem_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<uint>("cflag");
    QTest::addColumn<uint>("speed");
    QTest::newRow("19200 8N1") << "19200,N,8,1" << uint(CS8) << uint(B19200);
    QTest::newRow("9600 7E2") << "9600,E,7,2" << uint(CS7 | PARENB | CSTOPB) << uint(B9600);
    QTest::newRow("odd") << "9600,O,8,1" << uint(CS8 | PARENB | PARODD) << uint(B9600);
    QTest::newRow("mark") << "9600,M,8,1" << uint(CS8 | PARENB | PARODD | CMSPAR) << uint(B9600);
    QTest::newRow("space") << "9600,S,5,1" << uint(CS5 | PARENB | CMSPAR) << uint(B9600);
    QTest::newRow("no such speed") << "12345,N,8,1" << 0u << 0u;
}

void TestQtSerialControl::lineSettingsAsTheDeviceTakesThem()
{
    QFETCH(QString, settings);
    QFETCH(uint, cflag);
    QFETCH(uint, speed);
    // Built on a device with every flag set, and on one with none (the receiver off, the
    // carrier watched), so that nothing is left to the previous user.
    for (const int fill : {0xff, 0x00}) {
        termios left{};
        std::memset(&left, fill, sizeof left);
        const auto line = lineTermios(left, *LineSettings::parse(settings.toStdString()));
        QCOMPARE(line.has_value(), speed != 0);
        if (!line)
            return;
        constexpr tcflag_t kShape = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        QCOMPARE(uint(line->c_cflag & (kShape | CREAD | CLOCAL)), cflag | CREAD | CLOCAL);
        QCOMPARE(line->c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), tcflag_t(0));
        QCOMPARE(line->c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
        QCOMPARE(line->c_oflag & OPOST, tcflag_t(0));
        QCOMPARE(int(line->c_cc[VMIN]), 0);
        QCOMPARE(int(line->c_cc[VTIME]), 0);
        QCOMPARE(uint(::cfgetospeed(&*line)), speed);
        QCOMPARE(uint(::cfgetispeed(&*line)), speed);
    }
}

void TestQtSerialControl::thisThreadWatchesNothingOnTheLine()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    RecordingEvents events;
    comm.setEvents(&events);
    QVERIFY(!comm.setPortOpen(true));
    // A notifier puts the device in this thread's poll, where a pseudo-terminal waits for the
    // kernel's work on its buffer whenever no byte is ready.
    for (const QSocketNotifier *notifier : comm.findChildren<QSocketNotifier *>())
        QVERIFY2(!notifier->isEnabled(), qPrintable(QString::number(notifier->socket())));
    // The line's thread carries a stream of small pieces both ways, whole and in order.
    std::string sent;
    std::string echoed;
    for (int i = 0; i < 50; ++i) {
        const std::string frame =
            "A00" + std::to_string(i % 5) + "C" + std::to_string(10 + i) + "\r";
        QVERIFY(comm.output(frame));
        sent += frame;
        const std::string received = farEnd.read(frame.size());
        QCOMPARE(received, frame);
        farEnd.write(received);
        echoed += received;
    }
    QTRY_COMPARE(events.bytes.size(), echoed.size());
    QCOMPARE(events.bytes, echoed);
}

void TestQtSerialControl::deviceListingOpensNoPortThatSysfsDescribes()
{
    QTemporaryDir root;
    const std::filesystem::path dir(root.path().toStdString());
    const auto make = [&](const std::string &path, const std::string &text = {}) {
        std::filesystem::create_directories((dir / path).parent_path());
        std::ofstream(dir / path) << text;
    };
    make("dev/serial/by-id/usb-adapter-if00-port0");
    for (const char *node : {"dev/ttyUSB0", "dev/ttyACM0", "dev/ttyS0", "dev/ttyS1", "dev/ttyS2",
                             "dev/ttyS10", "dev/tty0"})
        make(node);
    make("sys/class/tty/ttyS0/type", "4\n");   // a 16550A
    make("sys/class/tty/ttyS1/type", "0\n");   // no UART
    make("sys/class/tty/ttyS10/type", "4\n");  // ttyS2 has no type: it is asked, and says none
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    for (const char *node : {"dev/ttyS0", "dev/ttyS1", "dev/ttyS10"})
        QVERIFY(::inotify_add_watch(watch, (dir / node).c_str(), IN_OPEN) >= 0);

    std::vector<std::string> expected;
    for (const char *node : {"dev/serial/by-id/usb-adapter-if00-port0", "dev/ttyUSB0",
                             "dev/ttyACM0", "dev/ttyS0", "dev/ttyS10"})
        expected.push_back((dir / node).string());
    QCOMPARE(listSerialDevices(dir), expected);
    char event[sizeof(inotify_event) + NAME_MAX + 1];
    QCOMPARE(::read(watch, event, sizeof event), ssize_t(-1));
    QCOMPARE(errno, EAGAIN);
    ::close(watch);
}

void TestQtSerialControl::lineWithNoEventfdStillWritesReadsAndStops()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    const int fd = ::open(farEnd.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    // Every descriptor is taken while the line starts, so it gets no eventfd to wake it.
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit lowered{static_cast<rlim_t>(fd) + 16, limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> taken;
    for (int spare = ::dup(fd); spare >= 0; spare = ::dup(fd))
        taken.push_back(spare);
    const int exhausted = errno;
    std::atomic<int> receivedEvents = 0;
    auto line = std::make_unique<LineThread>(
        fd, LineThread::Events{[&receivedEvents] { ++receivedEvents; }, [] {}});
    for (const int spare : taken)
        ::close(spare);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QCOMPARE(exhausted, EMFILE);

    line->write("C00\r");
    QCOMPARE(farEnd.read(4), std::string("C00\r"));
    farEnd.write("00\r");
    QTRY_COMPARE(receivedEvents.load(), 1);
    QCOMPARE(line->takeReceived(), std::string("00\r"));
    QElapsedTimer stopping;
    stopping.start();
    line.reset();
    QVERIFY(stopping.elapsed() < 1000);
    ::close(fd);
}

namespace {

int threadCount()
{
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator{}));
}

}  // namespace

void TestQtSerialControl::noDescriptorLeftIsSaidSo()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(onFarEnd(farEnd), lineClock);
    // As under ulimit -n: every descriptor but one taken when the port is opened, so that the
    // device opens and the lock file, the next descriptor, cannot.
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int probe = ::dup(0);
    QVERIFY(probe >= 0);
    const rlimit lowered{static_cast<rlim_t>(probe) + 16, limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> taken{probe};
    for (int spare = ::dup(0); spare >= 0; spare = ::dup(0))
        taken.push_back(spare);
    ::close(taken.back());
    taken.pop_back();
    const auto error = comm.setPortOpen(true);
    for (const int fd : taken)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QVERIFY(error.has_value());
    QVERIFY2(error->description.find("Too many open files") != std::string::npos,
             error->description.c_str());
    QVERIFY(!comm.portOpen());
}

void TestQtSerialControl::threadRunsOnlyWhileALineNeedsOne()
{
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    const int before = threadCount();
    QtSerialControl comm(DeviceMap{farEnd.path(), "rfc2217://127.0.0.1:1"}, lineClock);
    QCOMPARE(threadCount(), before);
    QVERIFY(!comm.setPortOpen(true));
    QCOMPARE(threadCount(), before + 1);
    comm.closePort();
    QCOMPARE(threadCount(), before);
}

void TestQtSerialControl::threadThatCannotStartFailsTheOpening_data()
{
    QTest::addColumn<bool>("network");
    QTest::newRow("device") << false;
    QTest::newRow("network") << true;
}

void TestQtSerialControl::threadThatCannotStartFailsTheOpening()
{
    QFETCH(bool, network);
    FarEnd farEnd;
    QVERIFY(farEnd.ok());
    QtSerialControl comm(DeviceMap{network ? "tcp://127.0.0.1:1" : farEnd.path(), {}}, lineClock);
    // In a child that may start no thread: as a user with a process limit of none (root is
    // not held to the limit, so the child drops to nobody, and the device goes with it).
    constexpr uid_t kNobody = 65534;
    if (::getuid() == 0)
        QCOMPARE(::chown(farEnd.path().c_str(), kNobody, kNobody), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit none{0, 0};
        if ((::getuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ||
            ::setrlimit(RLIMIT_NPROC, &none) != 0)
            ::_exit(2);
        const auto error = comm.setPortOpen(true);
        const bool named = error && error->description.find("cannot start") != std::string::npos;
        ::_exit(named && !comm.portOpen() ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the opening ended the process");
    QCOMPARE(WEXITSTATUS(status), 0);
}

QTEST_MAIN(TestQtSerialControl)
#include "tst_qtserialcontrol.moc"
