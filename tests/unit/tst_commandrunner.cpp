// koru-ctl's core on virtual time: the names from the command tables, the runner's replies,
// time-outs, repeats and exit status.
#include <QRegularExpression>
#include <QTest>
#include <set>

#include "core/ctl/commandrunner.h"
#include "core/protocol/commandnames.h"
#include "support/fakeserialcontrol.h"
#include "support/virtualclock.h"

namespace {

QByteArray qb(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

class TestCommandRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesShouldBeUniqueLowerCaseAndFindTheirRow();
    void shouldReportEachReplyAndExitStatus_data();
    void shouldReportEachReplyAndExitStatus();
    void repeatShouldSendAtTheButtonsInterval_data();
    void repeatShouldSendAtTheButtonsInterval();
};

void TestCommandRunner::namesShouldBeUniqueLowerCaseAndFindTheirRow()
{
    static const QRegularExpression wellFormed(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    std::set<std::string_view> seen;
    for (const NamedCommand &command : namedCommands()) {
        const QString name = QString::fromUtf8(qb(command.name));
        QVERIFY2(wellFormed.match(name).hasMatch(), qPrintable(name));
        QVERIFY2(seen.insert(command.name).second, qPrintable(name));
        QVERIFY2(!command.description.empty(), qPrintable(name));
        QCOMPARE(qb(findCommand(command.name)->code), qb(command.code));
    }
    QVERIFY(!findCommand("Power-On"));
}

void TestCommandRunner::shouldReportEachReplyAndExitStatus_data()
{
    // replies: what the projector sends for each frame, in two pieces split at "|";
    // "-" for silence. results: the text, or "!" and the error.
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("endsAtMs");
    using L = QList<QByteArray>;
    QTest::newRow("ack") << QStringList{"power-on"} << "" << L{"\x06|\r"} << QStringList{"ACK"} << 0
                         << 0;
    QTest::newRow("nak") << QStringList{"input-1"} << "" << L{"\x15\r"} << QStringList{"!NAK"} << 1
                         << 0;
    QTest::newRow("silence times out at 500 ms")
        << QStringList{"status"} << "" << L{"-"} << QStringList{"!no reply within 500 ms"} << 1
        << 500;
    QTest::newRow("no CR is no reply") << QStringList{"status"} << "" << L{"00|"}
                                       << QStringList{"!no reply within 500 ms"} << 1 << 500;
    QTest::newRow("query in pieces")
        << QStringList{"status"} << "" << L{"0|0\r"} << QStringList{"Power ON"} << 0 << 0;
    QTest::newRow("lamp hours as they came") << QStringList{"lamp-time"} << "A002" << L{"01234\r"}
                                             << QStringList{"01234 Hour Use"} << 0 << 0;
    QTest::newRow("undecodable") << QStringList{"status"} << "" << L{"77\r"}
                                 << QStringList{"!undecodable reply"} << 1 << 0;
    QTest::newRow("text for an operation") << QStringList{"freeze-on"} << "" << L{"00\r"}
                                           << QStringList{"!unexpected reply"} << 1 << 0;
    QTest::newRow("a failure does not stop the rest")
        << QStringList{"power-on", "status", "mode"} << "A001" << L{"-", "8|0\r", "3\r"}
        << QStringList{"!no reply within 500 ms", "Stand by", "Input 3"} << 1 << 500;
}

void TestCommandRunner::shouldReportEachReplyAndExitStatus()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, prefix);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QStringList, results);
    QFETCH(int, exitStatus);
    QFETCH(int, endsAtMs);

    std::vector<std::string> names;
    for (const QString &command : commands)
        names.push_back(command.toStdString());
    const auto steps = planCommands(names, 1);
    QVERIFY(steps);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    CommandRunner runner(comm, clock, prefix.toStdString(), 500);
    QStringList reported;
    std::vector<std::string> frames;
    int status = -1;
    runner.run(
        *steps,
        [&](const CtlResult &result) {
            reported << QString::fromStdString(result.ok() ? result.text : "!" + result.error);
            frames.push_back(result.frame);
        },
        [&](int exitStatus) { status = exitStatus; });

    for (const QByteArray &reply : replies) {
        QCOMPARE(status, -1);
        if (reply == "-") {
            clock.advance(499);
            QCOMPARE(reported.size(), static_cast<qsizetype>(frames.size()));
            clock.advance(1);
        } else {
            for (const QByteArray &piece : reply.split('|'))
                comm.receive(piece.toStdString());
            if (!reply.contains('\r'))
                clock.advance(500);
        }
    }
    QCOMPARE(reported, results);
    QCOMPARE(status, exitStatus);
    QCOMPARE(clock.nowMs(), endsAtMs);
    QCOMPARE(comm.written, frames);
    for (std::size_t i = 0; i < frames.size(); ++i)
        QCOMPARE(comm.written[i], prefix.toStdString() + std::string((*steps)[i].code) + "\r");
}

void TestCommandRunner::repeatShouldSendAtTheButtonsInterval_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("replyAfterMs");
    QTest::addColumn<QList<int>>("sentAtMs");
    QTest::newRow("zoom, 50 ms") << "zoom-in" << 0 << QList<int>{0, 50, 100};
    QTest::newRow("volume, 250 ms") << "vol-down" << 10 << QList<int>{0, 250, 500};
    QTest::newRow("arrow, the panel's 200 ms") << "arrow-left" << 0 << QList<int>{0, 200, 400};
    QTest::newRow("a slow reply holds the next back")
        << "lens-shift-up" << 80 << QList<int>{0, 80, 160};
    QTest::newRow("a one-shot goes once") << "power-on" << 0 << QList<int>{0};
}

void TestCommandRunner::repeatShouldSendAtTheButtonsInterval()
{
    QFETCH(QString, command);
    QFETCH(int, replyAfterMs);
    QFETCH(QList<int>, sentAtMs);
    VirtualClock clock;
    FakeSerialControl comm;
    comm.openPort();
    QList<int> sent;
    comm.onOutput = [&](std::string_view) { sent << static_cast<int>(clock.nowMs()); };
    CommandRunner runner(comm, clock, "", 500);
    int status = -1;
    runner.run(*planCommands({command.toStdString()}, 3), {}, [&](int s) { status = s; });
    for (int i = 0; i < 3 && status == -1; ++i) {
        clock.advance(replyAfterMs);
        comm.receive("\x06\r");
        while (status == -1 && sent.size() == i + 1)
            clock.advance(1);
    }
    QCOMPARE(sent, sentAtMs);
    QCOMPARE(status, 0);
}

QTEST_APPLESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
