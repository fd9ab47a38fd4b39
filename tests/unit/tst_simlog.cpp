#include <QTest>

#include "core/protocol/escaping.h"
#include "sim/core/simevent.h"

class TestSimLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldFormatOneLinePerEvent_data();
    void shouldFormatOneLinePerEvent();
    void shouldEscapeEveryByteReadably_data();
    void shouldEscapeEveryByteReadably();
    void shouldReadEscapesTheLogNoLongerWrites_data();
    void shouldReadEscapesTheLogNoLongerWrites();
    void shouldRefuseMalformedEscapes_data();
    void shouldRefuseMalformedEscapes();
    void monotonicClockShouldMatchTheSystemsMonotonicClock();
};

void TestSimLog::shouldFormatOneLinePerEvent_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("timeUs");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("projector");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("line");

    using Kind = SimEvent::Kind;
    QTest::newRow("addressed frame") << int(Kind::Received) << qint64(123456789) << "A002"
                                     << "CR0" << 0 << QByteArray() << 0 << "123.456789 RX A002 CR0";
    QTest::newRow("unaddressed frame") << int(Kind::Received) << qint64(5) << ""
                                       << "C00" << 0 << QByteArray() << 0 << "0.000005 RX - C00";
    QTest::newRow("reply") << int(Kind::Replied) << qint64(123457001) << ""
                           << "" << 2 << QByteArray("00\r") << 0 << "123.457001 TX 2 00\\r";
    QTest::newRow("acknowledge") << int(Kind::Replied) << qint64(1000000) << ""
                                 << "" << 1 << QByteArray("\x06\r") << 0
                                 << "1.000000 TX 1 \\x06\\r";
    QTest::newRow("reply with spaces")
        << int(Kind::Replied) << qint64(1) << ""
        << "" << 1 << QByteArray(" 25.0  25.0\r") << 0 << "0.000001 TX 1  25.0  25.0\\r";
    QTest::newRow("unasked") << int(Kind::Unasked) << qint64(2000000) << ""
                             << "" << 0 << QByteArray("hi\n") << 0 << "2.000000 UNASKED hi\\x0a";
    QTest::newRow("discarded") << int(Kind::Discarded) << qint64(3000000) << ""
                               << "" << 0 << QByteArray("x\xff", 2) << 90
                               << "3.000000 DROP 90 x\\xff";
    QTest::newRow("closed") << int(Kind::Closed) << qint64(4000000) << ""
                            << "" << 0 << QByteArray() << 0 << "4.000000 CLOSED";
    QTest::newRow("opened") << int(Kind::Opened) << qint64(4500000) << ""
                            << "" << 0 << QByteArray() << 0 << "4.500000 OPENED";
}

void TestSimLog::shouldFormatOneLinePerEvent()
{
    QFETCH(int, kind);
    QFETCH(qint64, timeUs);
    QFETCH(QString, prefix);
    QFETCH(QString, code);
    QFETCH(int, projector);
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QFETCH(QString, line);
    SimEvent event;
    event.kind = static_cast<SimEvent::Kind>(kind);
    event.timeUs = timeUs;
    event.prefix = prefix.toStdString();
    event.code = code.toStdString();
    event.projector = projector;
    event.bytes = bytes.toStdString();
    event.length = static_cast<std::size_t>(length);
    QCOMPARE(QString::fromStdString(formatLogLine(event)), line);
}

void TestSimLog::shouldEscapeEveryByteReadably_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("printable") << QByteArray("C00 ~!") << "C00 ~!";
    QTest::newRow("controls") << QByteArray("\r\n\t") << "\\r\\x0a\\x09";
    QTest::newRow("backslash") << QByteArray("a\\b") << "a\\\\b";
    QTest::newRow("NUL") << QByteArray("\x00", 1) << "\\x00";
    QTest::newRow("DEL and high bytes") << QByteArray("\x7f\x80\xff") << "\\x7f\\x80\\xff";
    QTest::newRow("ACK and NAK") << QByteArray("\x06\x15") << "\\x06\\x15";
}

void TestSimLog::shouldEscapeEveryByteReadably()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const std::string escaped = escapeTraffic(bytes.toStdString());
    QCOMPARE(QString::fromStdString(escaped), text);
    const auto back = unescapeBytes(escaped);
    QVERIFY(back);
    QCOMPARE(QByteArray::fromStdString(*back), bytes);
}

void TestSimLog::shouldReadEscapesTheLogNoLongerWrites_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("line feed and tab") << "a\\nb\\tc" << QByteArray("a\nb\tc");
    QTest::newRow("upper-case hex") << "\\x0A\\xFF" << QByteArray("\n\xff");
}

void TestSimLog::shouldReadEscapesTheLogNoLongerWrites()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const auto back = unescapeBytes(text.toStdString());
    QVERIFY(back);
    QCOMPARE(QByteArray::fromStdString(*back), bytes);
}

void TestSimLog::shouldRefuseMalformedEscapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("lone backslash") << "abc\\";
    QTest::newRow("unknown letter") << "\\q";
    QTest::newRow("short hex") << "\\x4";
    QTest::newRow("bad hex") << "\\xg0";
}

void TestSimLog::shouldRefuseMalformedEscapes()
{
    QFETCH(QString, text);
    QVERIFY(!unescapeBytes(text.toStdString()));
}

void TestSimLog::monotonicClockShouldMatchTheSystemsMonotonicClock()
{
    // Benchmarks line their own CLOCK_MONOTONIC readings up with the log.
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const std::int64_t now = monotonicNowUs();
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &after);
    QVERIFY(now >= before.tv_sec * 1000000LL + before.tv_nsec / 1000);
    QVERIFY(now <= after.tv_sec * 1000000LL + after.tv_nsec / 1000);
}

QTEST_APPLESS_MAIN(TestSimLog)
#include "tst_simlog.moc"
