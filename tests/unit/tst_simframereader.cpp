#include <QTest>
#include <string>
#include <vector>

#include "sim/core/framereader.h"

namespace {

// A byte string literal that may hold NUL bytes.
template <std::size_t N>
QByteArray raw(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}

// Frames as "prefix/code", discarded lines as "drop:<length>", so a row can list both.
std::vector<std::string> describe(const std::vector<FrameReaderOutput> &outputs)
{
    std::vector<std::string> texts;
    for (const FrameReaderOutput &output : outputs) {
        if (const auto *frame = std::get_if<SimFrame>(&output))
            texts.push_back(frame->prefix + "/" + frame->code);
        else
            texts.push_back("drop:" + std::to_string(std::get<DiscardedBytes>(output).length));
    }
    return texts;
}

std::vector<std::string> feedInPieces(std::string_view bytes, const std::vector<std::size_t> &cuts)
{
    FrameReader reader;
    std::vector<FrameReaderOutput> all;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        const auto part = reader.feed(bytes.substr(from, cut - from));
        all.insert(all.end(), part.begin(), part.end());
        from = cut;
    }
    const auto rest = reader.feed(bytes.substr(from));
    all.insert(all.end(), rest.begin(), rest.end());
    return describe(all);
}

QStringList toList(const std::vector<std::string> &texts)
{
    QStringList list;
    for (const std::string &text : texts)
        list << QString::fromStdString(text);
    return list;
}

}  // namespace

class TestSimFrameReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldYieldTheSameFramesInEverySplit_data();
    void shouldYieldTheSameFramesInEverySplit();
    void shouldDiscardWhatIsNoFrameAndResyncAtTheNextCarriageReturn_data();
    void shouldDiscardWhatIsNoFrameAndResyncAtTheNextCarriageReturn();
    void shouldTakeEveryAddressPrefix_data();
    void shouldTakeEveryAddressPrefix();
    void shouldKeepMemoryBoundedOnEndlessTextWithoutCarriageReturn();
    void resetDropsAPartialFrame();
};

void TestSimFrameReader::shouldYieldTheSameFramesInEverySplit_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one frame") << QByteArray("C00\r") << QStringList{"/C00"};
    QTest::newRow("three frames, mixed prefixes")
        << QByteArray("A002CR0\rC05\rAFFFC0B\r") << QStringList{"A002/CR0", "/C05", "AFFF/C0B"};
    QTest::newRow("garbage between frames")
        << raw("CR1\rxx\x00\xff\rA004C01\r") << QStringList{"/CR1", "drop:4", "A004/C01"};
}

void TestSimFrameReader::shouldYieldTheSameFramesInEverySplit()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // Every way of cutting the stream into up to three pieces, and one byte at a time.
    for (std::size_t first = 0; first <= view.size(); ++first) {
        for (std::size_t second = first; second <= view.size(); ++second) {
            const QStringList got = toList(feedInPieces(view, {first, second}));
            if (got != expected)
                QFAIL(qPrintable(QStringLiteral("cut at %1 and %2: %3")
                                     .arg(first)
                                     .arg(second)
                                     .arg(got.join(QLatin1Char(' ')))));
        }
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < view.size(); ++cut)
        everyByte.push_back(cut);
    QCOMPARE(toList(feedInPieces(view, everyByte)), expected);
}

void TestSimFrameReader::shouldDiscardWhatIsNoFrameAndResyncAtTheNextCarriageReturn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty line") << QByteArray("\rC00\r") << QStringList{"drop:0", "/C00"};
    QTest::newRow("code too short") << QByteArray("C0\rC00\r") << QStringList{"drop:2", "/C00"};
    QTest::newRow("code too long") << QByteArray("C000\rC00\r") << QStringList{"drop:4", "/C00"};
    QTest::newRow("NUL in code") << raw("C\x00"
                                        "0\rC00\r")
                                 << QStringList{"drop:3", "/C00"};
    QTest::newRow("high byte in code") << raw("C\x80"
                                              "0\rC00\r")
                                       << QStringList{"drop:3", "/C00"};
    QTest::newRow("space in code") << QByteArray("C 0\rC00\r") << QStringList{"drop:3", "/C00"};
    QTest::newRow("line feed kept out of the code")
        << QByteArray("\nC00\rC00\r") << QStringList{"drop:4", "/C00"};
    QTest::newRow("garbage glued to a frame")
        << QByteArray("zzA001C00\rC00\r") << QStringList{"drop:9", "/C00"};
    QTest::newRow("address 005") << QByteArray("A005C00\r") << QStringList{"drop:7"};
    QTest::newRow("address 000") << QByteArray("A000C00\r") << QStringList{"drop:7"};
    QTest::newRow("lower-case fff") << QByteArray("AfffC00\r") << QStringList{"drop:7"};
    QTest::newRow("prefix of another letter") << QByteArray("B001C00\r") << QStringList{"drop:7"};
    QTest::newRow("prefix without code") << QByteArray("A001\r") << QStringList{"drop:4"};
    QTest::newRow("frame without its carriage return yet")
        << QByteArray("C00\rCR0") << QStringList{"/C00"};
    QTest::newRow("unknown code is still a frame") << QByteArray("XYZ\r") << QStringList{"/XYZ"};
}

void TestSimFrameReader::shouldDiscardWhatIsNoFrameAndResyncAtTheNextCarriageReturn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    FrameReader reader;
    QCOMPARE(toList(describe(reader.feed(
                 std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))),
             expected);
}

void TestSimFrameReader::shouldTakeEveryAddressPrefix_data()
{
    QTest::addColumn<QString>("prefix");
    for (const char *prefix : {"A001", "A002", "A003", "A004", "AFFF"})
        QTest::newRow(prefix) << QString::fromLatin1(prefix);
}

void TestSimFrameReader::shouldTakeEveryAddressPrefix()
{
    QFETCH(QString, prefix);
    FrameReader reader;
    const auto outputs = reader.feed(prefix.toStdString() + "CR0\r");
    QCOMPARE(outputs.size(), 1u);
    const auto *frame = std::get_if<SimFrame>(&outputs.front());
    QVERIFY(frame);
    QCOMPARE(QString::fromStdString(frame->prefix), prefix);
    QCOMPARE(frame->code, std::string("CR0"));
}

void TestSimFrameReader::shouldKeepMemoryBoundedOnEndlessTextWithoutCarriageReturn()
{
    FrameReader reader;
    const std::string chunk(65536, 'x');
    for (int i = 0; i < 32; ++i)
        QVERIFY(reader.feed(chunk).empty());
    QCOMPARE(reader.pendingLength(), chunk.size() * 32);
    const auto outputs = reader.feed("\rC00\r");
    QCOMPARE(outputs.size(), 2u);
    const auto &discarded = std::get<DiscardedBytes>(outputs[0]);
    QCOMPARE(discarded.length, chunk.size() * 32);
    QCOMPARE(discarded.start, std::string(FrameReader::kMaxKeptBytes, 'x'));
    QCOMPARE(std::get<SimFrame>(outputs[1]), (SimFrame{"", "C00"}));
}

void TestSimFrameReader::resetDropsAPartialFrame()
{
    FrameReader reader;
    QVERIFY(reader.feed("A00").empty());
    reader.reset();
    QCOMPARE(reader.pendingLength(), 0u);
    const auto outputs = reader.feed("CR0\r");
    QCOMPARE(outputs.size(), 1u);
    QCOMPARE(std::get<SimFrame>(outputs.front()), (SimFrame{"", "CR0"}));
}

QTEST_APPLESS_MAIN(TestSimFrameReader)
#include "tst_simframereader.moc"
