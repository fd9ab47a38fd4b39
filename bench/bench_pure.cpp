// The pure functions on the receive path, timed with QBENCHMARK: rendering a text of the
// longest length the displays take, and decoding the reply to each status query.
#include <QtTest>
#include <string>

#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"

Q_DECLARE_METATYPE(std::string)

class BenchPure : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void renderTraffic_data();
    void renderTraffic();
    void decodeStatus_data();
    void decodeStatus();
};

void BenchPure::renderTraffic_data()
{
    QTest::addColumn<std::string>("text");
    std::string printable(kMaxRenderedChars, ' ');
    std::string everyByte(kMaxRenderedChars, ' ');
    std::string replies;
    for (std::size_t i = 0; i < kMaxRenderedChars; ++i) {
        printable[i] = static_cast<char>(' ' + i % ('z' - ' ' + 1));
        everyByte[i] = static_cast<char>(i % 256);
    }
    // Acknowledgements and status replies, as a long hold brings them in.
    while (replies.size() < kMaxRenderedChars)
        replies += "\x06\r 38.5  52.0\r00\r";
    replies.resize(kMaxRenderedChars);
    QTest::newRow("32767 printable") << printable;
    QTest::newRow("32767 of every byte") << everyByte;
    QTest::newRow("32767 of replies") << replies;
}

void BenchPure::renderTraffic()
{
    QFETCH(std::string, text);
    std::size_t length = 0;
    QBENCHMARK
    {
        length += ::renderTraffic(text).size();
    }
    QVERIFY(length > 0);
}

void BenchPure::decodeStatus_data()
{
    QTest::addColumn<std::string>("reply");
    QTest::addColumn<std::string>("lastCommand");
    QTest::addColumn<std::string>("idPrefix");
    // The replies the simulator gives, rendered as the RXD display shows them.
    QTest::newRow("CR0 power") << ::renderTraffic("00\r") << std::string("CR0\r") << std::string();
    QTest::newRow("CR1 input") << ::renderTraffic("1\r") << std::string("CR1\r") << std::string();
    QTest::newRow("CR3 lamp hours")
        << ::renderTraffic("01234\r") << std::string("CR3\r") << std::string();
    QTest::newRow("CR4 reversal") << ::renderTraffic("11\r") << std::string("CR4\r")
                                  << std::string();
    QTest::newRow("CR6 temperatures")
        << ::renderTraffic(" 38.5  52.0\r") << std::string("CR6\r") << std::string();
    QTest::newRow("CR7 lamps (last row)")
        << ::renderTraffic("23\r") << std::string("CR7\r") << std::string();
    QTest::newRow("CR9 model") << ::renderTraffic("KORU-SIM 002\r") << std::string("A002CR9\r")
                               << std::string("A002");
    QTest::newRow("CRA mute") << ::renderTraffic("FF\r") << std::string("CRA\r") << std::string();
    QTest::newRow("no query (C47)")
        << ::renderTraffic("\x06\r") << std::string("C47\r") << std::string();
}

void BenchPure::decodeStatus()
{
    QFETCH(std::string, reply);
    QFETCH(std::string, lastCommand);
    QFETCH(std::string, idPrefix);
    std::size_t decoded = 0;
    QBENCHMARK
    {
        const auto status = ::decodeStatus(reply, lastCommand, idPrefix);
        decoded += status ? status->size() : 1;
    }
    QVERIFY(decoded > 0);
}

QTEST_APPLESS_MAIN(BenchPure)
#include "bench_pure.moc"
