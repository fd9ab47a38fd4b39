#include <QtTest>
#include <random>
#include <string>
#include <string_view>

#include "core/protocol/rendering.h"
#include "support/bytes.h"

namespace {

std::string str(const QByteArray &bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// Every character shown as itself: space up to and including "z", written out.
constexpr std::string_view kShownAsItself =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz";

// What one byte becomes, worked out from the written-out character set above.
std::string expectedPiece(unsigned char byte)
{
    if (byte == 0x06)
        return "&";
    if (byte == 0x0D)
        return "CR ";
    if (byte == 0x0A)
        return "LF ";
    if (byte != 0 && kShownAsItself.find(char(byte)) != std::string_view::npos)
        return std::string(1, char(byte)) + " ";
    return "? ";
}

constexpr std::size_t kLimit = 32767;

}  // namespace

class TestRendering : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rendersTextAsDescribed_data();
    void rendersTextAsDescribed();
    void everyByteValueIsClassified_data();
    void everyByteValueIsClassified();
    void classificationCountsAddUp();
    void allByteValuesInOneTextRenderPieceByPiece();
    void kthPrintableCharacterSitsAtPlace2k();
    void rendersAllOf32767Characters();
    void rendersOnlyTheFirst32767CharactersOfLongerText_data();
    void rendersOnlyTheFirst32767CharactersOfLongerText();
    void appendReceivedKeepsArrivalOrder();
    void appendReceivedKeepsAtMostTheFirst32767Characters_data();
    void appendReceivedKeepsAtMostTheFirst32767Characters();
    void appendReceivedStartsAgainAfterBufferIsEmptied();
    void receiveBufferRendersAsRenderingAfresh();
};

void TestRendering::rendersTextAsDescribed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("rendering");
    QTest::newRow("C00 CR") << QByteArray("C00\r") << QByteArray(" C 0 0 CR ");
    QTest::newRow("A001 C00 CR") << QByteArray("A001C00\r") << QByteArray(" A 0 0 1 C 0 0 CR ");
    QTest::newRow("00 CR") << QByteArray("00\r") << QByteArray(" 0 0 CR ");
    QTest::newRow("ACK CR") << QByteArray("\x06\r") << QByteArray(" &CR ");
    QTest::newRow("a b { ~ DEL TAB CR LF")
        << QByteArray("ab{~\x7f\t\r\n") << QByteArray(" a b ? ? ? ? CR LF ");
    QTest::newRow("empty") << QByteArray() << QByteArray(" ");
    QTest::newRow("CR0 CR") << QByteArray("CR0\r") << QByteArray(" C R 0 CR ");
    QTest::newRow("AFFF C0B CR") << QByteArray("AFFFC0B\r") << QByteArray(" A F F F C 0 B CR ");
    QTest::newRow("two ACKs") << QByteArray("\x06\x06") << QByteArray(" &&");
    QTest::newRow("ACK then reply") << QByteArray(
                                           "\x06"
                                           "00\r")
                                    << QByteArray(" &0 0 CR ");
    QTest::newRow("space and z") << QByteArray(" z") << QByteArray("   z ");
    QTest::newRow("ampersand as itself") << QByteArray("&") << QByteArray(" & ");
    QTest::newRow("CR LF CR") << QByteArray("\r\n\r") << QByteArray(" CR LF CR ");
    QTest::newRow("NUL") << QByteArray("\0", 1) << QByteArray(" ? ");
    QTest::newRow("two replies") << QByteArray("00\r2\r") << QByteArray(" 0 0 CR 2 CR ");
    QTest::newRow("temperatures") << QByteArray("ABCDEFGHIJK\r")
                                  << QByteArray(" A B C D E F G H I J K CR ");
    QTest::newRow("UTF-8 e-acute, byte by byte") << QByteArray("\xc3\xa9") << QByteArray(" ? ? ");
    QTest::newRow("byte 255") << QByteArray("\xff") << QByteArray(" ? ");
}

void TestRendering::rendersTextAsDescribed()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, rendering);
    QCOMPARE(qb(renderTraffic(str(text))), rendering);
}

void TestRendering::everyByteValueIsClassified_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QByteArray>("piece");
    for (int byte = 0; byte < 256; ++byte) {
        QTest::addRow("byte %d", byte) << byte << qb(expectedPiece((unsigned char)byte));
    }
}

void TestRendering::everyByteValueIsClassified()
{
    QFETCH(int, byte);
    QFETCH(QByteArray, piece);
    const std::string alone(1, char(byte));
    QCOMPARE(qb(renderTraffic(alone)), " " + piece);
    // Between two printable neighbours, which keep their own pieces.
    const std::string framed = "a" + alone + "b";
    QCOMPARE(qb(renderTraffic(framed)), " a " + piece + "b ");
}

void TestRendering::classificationCountsAddUp()
{
    // 91 characters shown as themselves, 3 spelled out, 162 shown as "? ".
    int asItself = 0;
    int spelled = 0;
    int unknown = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string rendering = renderTraffic(std::string(1, char(byte)));
        // "?" itself renders as " ? " too, so a byte shown as itself is recognised first.
        if (rendering.size() == 3 && rendering[1] == char(byte) && rendering[2] == ' ')
            ++asItself;
        else if (rendering == " &" || rendering == " CR " || rendering == " LF ")
            ++spelled;
        else if (rendering == " ? ")
            ++unknown;
    }
    QCOMPARE(asItself, 91);
    QCOMPARE(spelled, 3);
    QCOMPARE(unknown, 162);
    QCOMPARE(kShownAsItself.size(), std::size_t(91));
}

void TestRendering::allByteValuesInOneTextRenderPieceByPiece()
{
    std::string text;
    std::string expected = " ";
    for (int byte = 0; byte < 256; ++byte) {
        text.push_back(char(byte));
        expected += expectedPiece((unsigned char)byte);
    }
    QCOMPARE(qb(renderTraffic(text)), qb(expected));
}

void TestRendering::kthPrintableCharacterSitsAtPlace2k()
{
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, kShownAsItself.size() - 1);
    for (int round = 0; round < 100; ++round) {
        std::string text;
        for (int i = 0; i < 30; ++i)
            text.push_back(kShownAsItself[pick(random)]);
        const std::string rendering = renderTraffic(text);
        QCOMPARE(rendering.size(), 1 + 2 * text.size());
        QCOMPARE(rendering[0], ' ');
        for (std::size_t k = 1; k <= text.size(); ++k) {
            // Places counted from 1: character k at place 2k, a space at place 2k + 1.
            QCOMPARE(rendering[2 * k - 1], text[k - 1]);
            QCOMPARE(rendering[2 * k], ' ');
        }
    }
}

void TestRendering::rendersAllOf32767Characters()
{
    std::string text(kLimit - 1, 'a');
    text.push_back('z');
    const std::string rendering = renderTraffic(text);
    QCOMPARE(rendering.size(), std::size_t(1 + 2 * kLimit));
    QCOMPARE(qb(rendering.substr(rendering.size() - 4)), QByteArray("a z "));

    const std::string returns(kLimit, '\r');
    QCOMPARE(renderTraffic(returns).size(), std::size_t(1 + 3 * kLimit));
}

void TestRendering::rendersOnlyTheFirst32767CharactersOfLongerText_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("32768") << 32768;
    QTest::newRow("40000") << 40000;
    QTest::newRow("100000") << 100000;
}

void TestRendering::rendersOnlyTheFirst32767CharactersOfLongerText()
{
    QFETCH(int, length);
    std::string text(kLimit, 'x');
    text.append(std::size_t(length) - kLimit, '\r');
    const std::string rendering = renderTraffic(text);
    QCOMPARE(rendering.size(), std::size_t(1 + 2 * kLimit));
    QVERIFY(rendering.find("CR") == std::string::npos);
    QCOMPARE(qb(rendering), qb(renderTraffic(std::string(kLimit, 'x'))));
}

void TestRendering::appendReceivedKeepsArrivalOrder()
{
    std::string buffer;
    appendReceived(buffer, "0");
    appendReceived(buffer, "0\r");
    appendReceived(buffer, "");
    appendReceived(buffer,
                   "\x06"
                   "2\r");
    QCOMPARE(qb(buffer), QByteArray("00\r\x06"
                                    "2\r"));
}

void TestRendering::appendReceivedKeepsAtMostTheFirst32767Characters_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<int>("arriving");
    QTest::addColumn<int>("kept");
    QTest::newRow("empty buffer, short text") << 0 << 10 << 10;
    QTest::newRow("empty buffer, exactly the limit") << 0 << 32767 << 32767;
    QTest::newRow("empty buffer, one over") << 0 << 32768 << 32767;
    QTest::newRow("empty buffer, far over") << 0 << 50000 << 32767;
    QTest::newRow("nearly full, fits exactly") << 32760 << 7 << 32767;
    QTest::newRow("nearly full, partly fits") << 32760 << 10 << 32767;
    QTest::newRow("one short") << 32766 << 1 << 32767;
    QTest::newRow("full") << 32767 << 5 << 32767;
}

void TestRendering::appendReceivedKeepsAtMostTheFirst32767Characters()
{
    QFETCH(int, held);
    QFETCH(int, arriving);
    QFETCH(int, kept);
    std::string buffer(std::size_t(held), 'h');
    std::string received;
    for (int i = 0; i < arriving; ++i)
        received.push_back(char('0' + i % 10));
    appendReceived(buffer, received);
    QCOMPARE(int(buffer.size()), kept);
    // What was held stays, and what is kept of the new text is its beginning.
    QCOMPARE(qb(buffer.substr(0, std::size_t(held))), QByteArray(held, 'h'));
    QCOMPARE(qb(buffer.substr(std::size_t(held))),
             qb(received.substr(0, std::size_t(kept - held))));
}

void TestRendering::appendReceivedStartsAgainAfterBufferIsEmptied()
{
    std::string buffer;
    appendReceived(buffer, std::string(40000, 'u'));
    appendReceived(buffer, "late");
    QCOMPARE(buffer.size(), kLimit);
    QVERIFY(buffer.find("late") == std::string::npos);
    buffer.clear();
    appendReceived(buffer, "00\r");
    QCOMPARE(qb(buffer), QByteArray("00\r"));
}

void TestRendering::receiveBufferRendersAsRenderingAfresh()
{
    // Pieces of every byte value, some long enough to reach the bound within a few events, and
    // the buffer emptied now and then: text, rendering and what each event added all match a
    // buffer kept with appendReceived and rendered whole.
    std::mt19937 random(7);
    ReceiveBuffer buffer;
    std::string expected;
    for (int event = 0; event < 3000; ++event) {
        if (random() % 40 == 0) {
            buffer.clear();
            expected.clear();
        }
        std::string piece(random() % 8 == 0 ? random() % 4000 : random() % 40, '\0');
        for (char &c : piece)
            c = static_cast<char>(random() % 256);
        const std::string before = renderTraffic(expected);
        const std::string added(buffer.append(piece));
        appendReceived(expected, piece);
        QCOMPARE(buffer.text(), expected);
        QCOMPARE(buffer.rendering(), renderTraffic(expected));
        QCOMPARE(before + added, buffer.rendering());
    }
    buffer.clear();
    QCOMPARE(buffer.append(std::string(kMaxRenderedChars + 1, '\x06')),
             std::string(kMaxRenderedChars, '&'));
    QCOMPARE(buffer.append("more"), std::string_view());
}

QTEST_APPLESS_MAIN(TestRendering)
#include "tst_rendering.moc"
