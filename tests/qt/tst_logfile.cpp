// The logs' file: opening never waits and takes files and devices only; a write the file
// cannot take whole leaves whole lines and names the reason.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fstream>
#include <sstream>

#include "os/logfile.h"

class TestLogFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingNeverWaitsAndTakesFilesAndDevicesOnly_data();
    void openingNeverWaitsAndTakesFilesAndDevicesOnly();
    void writeCutShortLeavesWholeLinesAndSaysWhy();
    void fullDeviceSaysWhy();
};

void TestLogFile::openingNeverWaitsAndTakesFilesAndDevicesOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("refusal");  // empty: taken
    QTest::newRow("regular file") << "file"
                                  << "";
    QTest::newRow("character device") << "/dev/null"
                                      << "";
    QTest::newRow("FIFO nobody reads") << "fifo"
                                       << "a FIFO that nobody reads";
    QTest::newRow("FIFO with a reader") << "read fifo"
                                        << "a FIFO, not a file";
    QTest::newRow("directory") << "dir"
                               << "Is a directory";
}

void TestLogFile::openingNeverWaitsAndTakesFilesAndDevicesOnly()
{
    QFETCH(QString, kind);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("log")).toStdString();
    int reader = -1;
    if (kind.endsWith(QLatin1String("fifo"))) {
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
        if (kind.startsWith(QLatin1String("read")))
            reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    } else if (kind == QLatin1String("dir")) {
        QCOMPARE(::mkdir(path.c_str(), 0700), 0);
    } else if (kind.startsWith(QLatin1Char('/'))) {
        path = kind.toStdString();
    }
    LogFile log;
    QElapsedTimer opening;
    opening.start();
    const bool opened = log.open(path);
    QVERIFY(opening.elapsed() < 1000);
    if (reader >= 0)
        ::close(reader);
    QCOMPARE(opened, refusal.isEmpty());
    QCOMPARE(log.isOpen(), opened);
    QCOMPARE(QString::fromStdString(log.error()), refusal);
}

void TestLogFile::writeCutShortLeavesWholeLinesAndSaysWhy()
{
    // A file that may grow to 100 bytes stands for a disk with 100 bytes left: the write that
    // passes it is cut short. In a child, whose limit and ignored SIGXFSZ go with it.
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("traffic.log")).toStdString();
    const std::string line = std::string(29, 'x') + '\n';
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        LogFile log;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || !log.open(path))
            ::_exit(2);
        const bool fits = log.append(line + line) && log.append(line);
        const bool passes = log.append(line + line);
        ::_exit(fits && !passes && log.error() == "File too large" ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    QCOMPARE(text.str(), line + line + line);
}

void TestLogFile::fullDeviceSaysWhy()
{
    LogFile log;
    QVERIFY(log.open("/dev/full"));
    QVERIFY(!log.append("line\n"));
    QCOMPARE(QString::fromStdString(log.error()), QStringLiteral("No space left on device"));
    QVERIFY(!log.readerGone());
}

QTEST_APPLESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
