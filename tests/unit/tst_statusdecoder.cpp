#include <QtTest>
#include <array>
#include <set>
#include <string>
#include <string_view>

#include "core/panel/commandsender.h"
#include "core/panel/intervaltimer.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/frame.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"
#include "support/bytes.h"
#include "support/corepanel.h"
#include "support/fakeserialcontrol.h"
#include "support/goldentables.h"
#include "support/recordingdisplays.h"
#include "support/recordingmessagebox.h"
#include "support/virtualclock.h"

namespace {

std::string str(const QByteArray &bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// What the decoding gives, or "(unchanged)" when it leaves the status display as it is.
QByteArray decoded(std::string_view rxd, std::string_view lastCommand, std::string_view prefix)
{
    const auto text = decodeStatus(rxd, lastCommand, prefix);
    return text ? qb(*text) : QByteArray("(unchanged)");
}

// Decodes a reply (its raw characters) to a query sent with no prefix.
QByteArray decodedReply(std::string_view query, std::string_view reply)
{
    return decoded(renderTraffic(reply), std::string(query) + "\r", "");
}

constexpr std::array<std::string_view, 6> kPrefixes{"", "AFFF", "A001", "A002", "A003", "A004"};

constexpr std::string_view kPrintable =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz";

const OneShotButton &queryButton(std::string_view code)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.code == code)
            return button;
    }
    qFatal("no button sends %s", std::string(code).c_str());
}

// The traffic path the decoding runs in: clicks go out through the send step, replies come
// in through the receive event and are decoded into the status display.
using Panel = CorePanel<RecordingDisplays>;

}  // namespace

class TestStatusDecoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workedExamplesDecodeAsShown_data();
    void workedExamplesDecodeAsShown();
    void everyLookupRowGivesItsText_data();
    void everyLookupRowGivesItsText();
    void lookupMatchesNothingButItsOwnKeys_data();
    void lookupMatchesNothingButItsOwnKeys();
    void lampModeTextsKeepTheirDoubleSpaces();
    void sameReplyMeansDifferentThingsPerQuery_data();
    void sameReplyMeansDifferentThingsPerQuery();
    void ffMatchesNothingAfterCr0ButIsStandByAfterCra();
    void keysAreCaseSensitive();
    void replySplitOverTwoReceiveEventsDecodesOnceComplete();
    void replyBeginningWithAckMatchesNoLookupRow_data();
    void replyBeginningWithAckMatchesNoLookupRow();
    void pjSelectChangedBeforeReplyLeavesStatusAlone();
    void pjSelectChangedBackBeforeReplyDecodesAgain();
    void operationCommandLeavesStatusAlone_data();
    void operationCommandLeavesStatusAlone();
    void twoQueriesWithinTimeoutTakeKeyFromFirstReply();
    void inputQueryDecidesOnFirstCharacterAlone_data();
    void inputQueryDecidesOnFirstCharacterAlone();
    void lampTimeTakesFirst19CharactersOfRxd_data();
    void lampTimeTakesFirst19CharactersOfRxd();
    void temperaturesTakeTwoSlicesOfRxd_data();
    void temperaturesTakeTwoSlicesOfRxd();
    void pcTypeEchoesRxdUnchanged_data();
    void pcTypeEchoesRxdUnchanged();
    void everyQueryDecodesUnderEveryPrefix_data();
    void everyQueryDecodesUnderEveryPrefix();
    void queryFramedUnderAnotherPrefixIsNotDecoded();
    void framesThatAreNoStatusQueryAreNotDecoded_data();
    void framesThatAreNoStatusQueryAreNotDecoded();
    void unmatchedReplyLeavesStatusAndTouchesNothingElse();
    void lateRestOfReplyIsDecodedOnItsOwn();
    void slicingShowsPartialReplyAndIsOverwrittenAsMoreArrives();
};

void TestStatusDecoder::workedExamplesDecodeAsShown_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("rxd");
    QTest::addColumn<QByteArray>("status");
    QTest::newRow("CR0 00") << QByteArray("CR0") << QByteArray("00\r") << QByteArray(" 0 0 CR ")
                            << QByteArray(" Power ON");
    QTest::newRow("CR1 2") << QByteArray("CR1") << QByteArray("2\r") << QByteArray(" 2 CR ")
                           << QByteArray(" Input 2");
    QTest::newRow("CR4 10") << QByteArray("CR4") << QByteArray("10\r") << QByteArray(" 1 0 CR ")
                            << QByteArray(" Top/Bottom reversal");
    QTest::newRow("CRA FF") << QByteArray("CRA") << QByteArray("FF\r") << QByteArray(" F F CR ")
                            << QByteArray(" Stand by");
    QTest::newRow("CR3 12345") << QByteArray("CR3") << QByteArray("12345\r")
                               << QByteArray(" 1 2 3 4 5 CR ")
                               << QByteArray(" 1 2 3 4 5 CR  Hour Use");
    QTest::newRow("CR3 123456789012")
        << QByteArray("CR3") << QByteArray("123456789012\r")
        << QByteArray(" 1 2 3 4 5 6 7 8 9 0 1 2 CR ") << QByteArray(" 1 2 3 4 5 6 7 8 9  Hour Use");
    QTest::newRow("CR6 ABCDEFGHIJK") << QByteArray("CR6") << QByteArray("ABCDEFGHIJK\r")
                                     << QByteArray(" A B C D E F G H I J K CR ")
                                     << QByteArray("  S1= A B C D E C  ,   S2=  H I J K C");
    QTest::newRow("CR6 12") << QByteArray("CR6") << QByteArray("12\r") << QByteArray(" 1 2 CR ")
                            << QByteArray("  S1= 1 2 CR  C  ,   S2=  C");
    QTest::newRow("CR9 ABC") << QByteArray("CR9") << QByteArray("ABC\r") << QByteArray(" A B C CR ")
                             << QByteArray(" A B C CR ");
}

void TestStatusDecoder::workedExamplesDecodeAsShown()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, rxd);
    QFETCH(QByteArray, status);
    Panel panel;
    panel.core.click(queryButton(str(query)));
    panel.clock.advance(50);
    panel.comm.receive(str(reply));
    QCOMPARE(qb(panel.displays.rxd), rxd);
    QCOMPARE(qb(panel.displays.status), status);
}

void TestStatusDecoder::everyLookupRowGivesItsText_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("text");
    for (const golden::LookupRow &row : golden::kLookupRows)
        QTest::addRow("%s %s", row.query, row.reply)
            << QByteArray(row.query) << QByteArray(row.reply) << QByteArray(row.text);
}

void TestStatusDecoder::everyLookupRowGivesItsText()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, text);
    QCOMPARE(decodedReply(str(query), str(reply + "\r")), text);
    // The key alone decides: what follows it makes no difference.
    QCOMPARE(decodedReply(str(query), str(reply)), text);
    QCOMPARE(decodedReply(str(query), str(reply + "XYZ\r")), text);
    for (std::string_view prefix : kPrefixes) {
        const std::string lastCommand = std::string(prefix) + str(query) + "\r";
        QCOMPARE(decoded(renderTraffic(str(reply + "\r")), lastCommand, prefix), text);
    }
}

void TestStatusDecoder::lookupMatchesNothingButItsOwnKeys_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("replyLength");
    QTest::newRow("CR0") << QByteArray("CR0") << 2;
    QTest::newRow("CR1") << QByteArray("CR1") << 1;
    QTest::newRow("CR4") << QByteArray("CR4") << 2;
    QTest::newRow("CRA") << QByteArray("CRA") << 2;
    QTest::newRow("CR7") << QByteArray("CR7") << 2;
}

void TestStatusDecoder::lookupMatchesNothingButItsOwnKeys()
{
    QFETCH(QByteArray, query);
    QFETCH(int, replyLength);
    std::set<std::string> keys;
    for (const golden::LookupRow &row : golden::kLookupRows) {
        if (query == row.query)
            keys.insert(row.reply);
    }
    // Every reply of printable characters of the key's length, followed by CR.
    int matched = 0;
    for (char first : kPrintable) {
        for (char second : replyLength == 2 ? kPrintable : std::string_view("\r")) {
            std::string reply(1, first);
            if (replyLength == 2)
                reply.push_back(second);
            const auto text = decodeStatus(renderTraffic(reply + "\r"), str(query) + "\r", "");
            if (keys.count(reply)) {
                QVERIFY2(text, reply.c_str());
                ++matched;
            } else {
                QVERIFY2(!text, (reply + " gave " + text.value_or("")).c_str());
            }
        }
    }
    QCOMPARE(matched, int(keys.size()));
}

void TestStatusDecoder::lampModeTextsKeepTheirDoubleSpaces()
{
    // One space before the colon after "All OFF", two after "No1 ON", "No2 ON" and "No1,2 ON".
    QCOMPARE(decodedReply("CR7", "00\r"), QByteArray(" All OFF : 2 Lamp mode"));
    QCOMPARE(decodedReply("CR7", "11\r"), QByteArray(" No1 ON  : Half Lamp mode-1"));
    QCOMPARE(decodedReply("CR7", "22\r"), QByteArray(" No2 ON  : Half Lamp mode-2"));
    QCOMPARE(decodedReply("CR7", "03\r"), QByteArray(" No1,2 ON  : 2 Lamp mode"));
    QCOMPARE(decodedReply("CR4", "00\r"), QByteArray(" Top/Bottom , Left/Right reversal"));
}

void TestStatusDecoder::sameReplyMeansDifferentThingsPerQuery_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("CR0") << QByteArray("CR0") << QByteArray(" Power ON");
    QTest::newRow("CR4") << QByteArray("CR4") << QByteArray(" Top/Bottom , Left/Right reversal");
    QTest::newRow("CRA") << QByteArray("CRA") << QByteArray(" Video & Audio mute OFF");
    QTest::newRow("CR7") << QByteArray("CR7") << QByteArray(" All OFF : 2 Lamp mode");
    QTest::newRow("CR1") << QByteArray("CR1") << QByteArray("(unchanged)");
    QTest::newRow("CR3") << QByteArray("CR3") << QByteArray(" 0 0 CR  Hour Use");
    QTest::newRow("CR6") << QByteArray("CR6") << QByteArray("  S1= 0 0 CR  C  ,   S2=  C");
    QTest::newRow("CR9") << QByteArray("CR9") << QByteArray(" 0 0 CR ");
}

void TestStatusDecoder::sameReplyMeansDifferentThingsPerQuery()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, text);
    QCOMPARE(decodedReply(str(query), "00\r"), text);
}

void TestStatusDecoder::ffMatchesNothingAfterCr0ButIsStandByAfterCra()
{
    Panel panel;
    panel.displays.setStatus(" Power ON");
    panel.core.click(oneShot("Command44"));  // "STATUS", CR0
    panel.comm.receive("FF\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" F F CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));

    panel.clock.advance(1000);
    panel.core.click(oneShot("Command12"));  // "STATUS 2", CRA
    panel.comm.receive("FF\r");
    QCOMPARE(qb(panel.displays.status), QByteArray(" Stand by"));
}

void TestStatusDecoder::keysAreCaseSensitive()
{
    QCOMPARE(decodedReply("CRA", "ff\r"), QByteArray("(unchanged)"));
    QCOMPARE(decodedReply("CRA", "fF\r"), QByteArray("(unchanged)"));
    QCOMPARE(decodedReply("CRA", "Ff\r"), QByteArray("(unchanged)"));
    QCOMPARE(decodedReply("CRA", "FF\r"), QByteArray(" Stand by"));
    // The query's frame is compared case-sensitively too.
    QCOMPARE(decoded(" F F CR ", "cra\r", ""), QByteArray("(unchanged)"));
    QCOMPARE(decoded(" 0 0 CR ", "Cr0\r", ""), QByteArray("(unchanged)"));
    QCOMPARE(decoded(" 0 0 CR ", "aFFFCR0\r", "AFFF"), QByteArray("(unchanged)"));
}

void TestStatusDecoder::replySplitOverTwoReceiveEventsDecodesOnceComplete()
{
    Panel panel;
    panel.displays.setStatus(" Input 3");
    panel.core.click(oneShot("Command44"));
    panel.clock.advance(20);
    panel.comm.receive("0");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Input 3"));
    panel.clock.advance(5);
    panel.comm.receive("0\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
}

void TestStatusDecoder::replyBeginningWithAckMatchesNoLookupRow_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("CR0") << QByteArray("CR0") << QByteArray("00\r");
    QTest::newRow("CR1") << QByteArray("CR1") << QByteArray("1\r");
    QTest::newRow("CR4") << QByteArray("CR4") << QByteArray("11\r");
    QTest::newRow("CRA") << QByteArray("CRA") << QByteArray("FF\r");
    QTest::newRow("CR7") << QByteArray("CR7") << QByteArray("23\r");
}

void TestStatusDecoder::replyBeginningWithAckMatchesNoLookupRow()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QVERIFY(decodedReply(str(query), str(reply)) != "(unchanged)");
    const std::string withAck = "\x06" + str(reply);
    QCOMPARE(qb(renderTraffic(withAck).substr(0, 2)), QByteArray(" &"));
    QCOMPARE(decodedReply(str(query), withAck), QByteArray("(unchanged)"));
}

void TestStatusDecoder::pjSelectChangedBeforeReplyLeavesStatusAlone()
{
    Panel panel;
    panel.displays.setStatus(" Stand by");
    panel.select("003");
    panel.core.click(oneShot("Command44"));
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("A003CR0\r"));
    panel.select("SINGLE");
    panel.clock.advance(40);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Stand by"));
}

void TestStatusDecoder::pjSelectChangedBackBeforeReplyDecodesAgain()
{
    // The query's frame is built afresh from the prefix in force when the reply comes.
    Panel panel;
    panel.select("003");
    panel.core.click(oneShot("Command44"));
    panel.select("ALL");
    panel.select("003");
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
}

void TestStatusDecoder::operationCommandLeavesStatusAlone_data()
{
    QTest::addColumn<QString>("control");
    for (const OneShotButton &button : kOneShotButtons) {
        if (!button.code.starts_with("CR"))
            QTest::newRow(std::string(button.control).c_str())
                << QString::fromUtf8(qb(button.control));
    }
}

void TestStatusDecoder::operationCommandLeavesStatusAlone()
{
    QFETCH(QString, control);
    Panel panel;
    panel.displays.setStatus(" Input 1");
    panel.core.click(oneShot(control.toStdString()));
    for (const char *reply : {"00\r", "2\r", "FF\r", "12345\r"}) {
        panel.comm.receive(reply);
        QCOMPARE(qb(panel.displays.status), QByteArray(" Input 1"));
    }
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR 2 CR F F CR 1 2 3 4 5 CR "));
}

void TestStatusDecoder::twoQueriesWithinTimeoutTakeKeyFromFirstReply()
{
    Panel panel;
    panel.core.click(oneShot("Command44"));  // CR0
    panel.clock.advance(30);
    panel.comm.receive("00\r");
    QCOMPARE(qb(panel.displays.status), QByteArray(" Power ON"));
    panel.clock.advance(70);
    panel.core.click(oneShot("Command47"));  // CR4
    panel.clock.advance(30);
    panel.comm.receive("11\r");
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("CR4\r"));
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 0 CR 1 1 CR "));
    // " 0 0" is the first reply's key, read as the second query's.
    QCOMPARE(qb(panel.displays.status), QByteArray(" Top/Bottom , Left/Right reversal"));
}

void TestStatusDecoder::inputQueryDecidesOnFirstCharacterAlone_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("2 alone") << QByteArray("2") << QByteArray(" Input 2");
    QTest::newRow("2 CR") << QByteArray("2\r") << QByteArray(" Input 2");
    QTest::newRow("29 CR") << QByteArray("29\r") << QByteArray(" Input 2");
    QTest::newRow("2X") << QByteArray("2X") << QByteArray(" Input 2");
    QTest::newRow("2 ACK") << QByteArray("2\x06") << QByteArray(" Input 2");
    QTest::newRow("2 DEL") << QByteArray("2\x7f") << QByteArray(" Input 2");
    QTest::newRow("12") << QByteArray("12\r") << QByteArray(" Input 1");
    QTest::newRow("31") << QByteArray("31\r") << QByteArray(" Input 3");
    QTest::newRow("4") << QByteArray("4\r") << QByteArray("(unchanged)");
    QTest::newRow("0") << QByteArray("0\r") << QByteArray("(unchanged)");
    QTest::newRow("CR first") << QByteArray("\r2") << QByteArray("(unchanged)");
}

void TestStatusDecoder::inputQueryDecidesOnFirstCharacterAlone()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, text);
    QCOMPARE(decodedReply("CR1", str(reply)), text);
}

void TestStatusDecoder::lampTimeTakesFirst19CharactersOfRxd_data()
{
    QTest::addColumn<QByteArray>("rxd");
    QTest::addColumn<QByteArray>("status");
    const QByteArray letters("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN");
    QTest::newRow("empty") << QByteArray() << QByteArray(" Hour Use");
    QTest::newRow("1") << letters.left(1) << QByteArray("a Hour Use");
    QTest::newRow("18") << letters.left(18) << QByteArray("abcdefghijklmnopqr Hour Use");
    QTest::newRow("19") << letters.left(19) << QByteArray("abcdefghijklmnopqrs Hour Use");
    QTest::newRow("20") << letters.left(20) << QByteArray("abcdefghijklmnopqrs Hour Use");
    QTest::newRow("40") << letters << QByteArray("abcdefghijklmnopqrs Hour Use");
    QTest::newRow("rendered 9 characters")
        << QByteArray(" 0 0 1 2 3 4 5 6 7 CR ") << QByteArray(" 0 0 1 2 3 4 5 6 7  Hour Use");
}

void TestStatusDecoder::lampTimeTakesFirst19CharactersOfRxd()
{
    QFETCH(QByteArray, rxd);
    QFETCH(QByteArray, status);
    QCOMPARE(decoded(str(rxd), "CR3\r", ""), status);
}

void TestStatusDecoder::temperaturesTakeTwoSlicesOfRxd_data()
{
    QTest::addColumn<QByteArray>("rxd");
    QTest::addColumn<QByteArray>("status");
    const QByteArray places("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    QTest::newRow("empty") << QByteArray() << QByteArray("  S1= C  ,   S2=  C");
    QTest::newRow("9") << places.left(9) << QByteArray("  S1=012345678 C  ,   S2=  C");
    QTest::newRow("10") << places.left(10) << QByteArray("  S1=0123456789 C  ,   S2=  C");
    QTest::newRow("11") << places.left(11) << QByteArray("  S1=0123456789 C  ,   S2=  C");
    QTest::newRow("14") << places.left(14) << QByteArray("  S1=0123456789 C  ,   S2=  C");
    QTest::newRow("15") << places.left(15) << QByteArray("  S1=0123456789 C  ,   S2= E C");
    QTest::newRow("16") << places.left(16) << QByteArray("  S1=0123456789 C  ,   S2= EF C");
    QTest::newRow("21") << places.left(21) << QByteArray("  S1=0123456789 C  ,   S2= EFGHIJK C");
    QTest::newRow("22") << places.left(22) << QByteArray("  S1=0123456789 C  ,   S2= EFGHIJKL C");
    QTest::newRow("23") << places.left(23) << QByteArray("  S1=0123456789 C  ,   S2= EFGHIJKL C");
    QTest::newRow("36") << places << QByteArray("  S1=0123456789 C  ,   S2= EFGHIJKL C");
}

void TestStatusDecoder::temperaturesTakeTwoSlicesOfRxd()
{
    QFETCH(QByteArray, rxd);
    QFETCH(QByteArray, status);
    QCOMPARE(decoded(str(rxd), "CR6\r", ""), status);
}

void TestStatusDecoder::pcTypeEchoesRxdUnchanged_data()
{
    QTest::addColumn<QByteArray>("rxd");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("space") << QByteArray(" ");
    QTest::newRow("with ACK") << QByteArray(" &P C 1 CR ");
    QTest::newRow("long") << QByteArray(200, 'x');
}

void TestStatusDecoder::pcTypeEchoesRxdUnchanged()
{
    QFETCH(QByteArray, rxd);
    QCOMPARE(decoded(str(rxd), "CR9\r", ""), rxd);
}

void TestStatusDecoder::everyQueryDecodesUnderEveryPrefix_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("text");
    const std::array<std::array<const char *, 3>, 8> queries{{
        {"CR0", "24\r", " Cooling down for power save"},
        {"CR1", "3\r", " Input 3"},
        {"CR3", "77\r", " 7 7 CR  Hour Use"},
        {"CR4", "01\r", " Left/Right reversal"},
        {"CR6", "1\r", "  S1= 1 CR  C  ,   S2=  C"},
        {"CR7", "13\r", " No1,2 ON  : Half Lamp mode-1"},
        {"CR9", "Z\r", " Z CR "},
        {"CRA", "80\r", " No signal"},
    }};
    for (std::string_view prefix : kPrefixes) {
        for (const auto &[query, reply, text] : queries)
            QTest::addRow("'%s' %s", std::string(prefix).c_str(), query)
                << qb(prefix) << QByteArray(query) << QByteArray(reply) << QByteArray(text);
    }
}

void TestStatusDecoder::everyQueryDecodesUnderEveryPrefix()
{
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, text);
    Panel panel;
    panel.selectPrefix(str(prefix));
    panel.core.click(queryButton(str(query)));
    panel.comm.receive(str(reply));
    QCOMPARE(qb(panel.displays.status), text);
}

void TestStatusDecoder::queryFramedUnderAnotherPrefixIsNotDecoded()
{
    for (std::string_view sentWith : kPrefixes) {
        for (std::string_view inForce : kPrefixes) {
            const std::string lastCommand = buildFrame(sentWith, "CR9");
            const auto text = decodeStatus(" 1 CR ", lastCommand, inForce);
            QCOMPARE(bool(text), sentWith == inForce);
        }
    }
}

void TestStatusDecoder::framesThatAreNoStatusQueryAreNotDecoded_data()
{
    QTest::addColumn<QByteArray>("lastCommand");
    QTest::newRow("nothing sent yet") << QByteArray();
    QTest::newRow("C00") << QByteArray("C00\r");
    QTest::newRow("CR2") << QByteArray("CR2\r");
    QTest::newRow("CR5") << QByteArray("CR5\r");
    QTest::newRow("CR8") << QByteArray("CR8\r");
    QTest::newRow("CRB") << QByteArray("CRB\r");
    QTest::newRow("CR0 without CR") << QByteArray("CR0");
    QTest::newRow("CR0 with LF") << QByteArray("CR0\n");
    QTest::newRow("CR0 twice") << QByteArray("CR0\rCR0\r");
    QTest::newRow("CR0 with trailing space") << QByteArray("CR0 \r");
}

void TestStatusDecoder::framesThatAreNoStatusQueryAreNotDecoded()
{
    QFETCH(QByteArray, lastCommand);
    QCOMPARE(decoded(" 0 0 CR ", str(lastCommand), ""), QByteArray("(unchanged)"));
}

void TestStatusDecoder::unmatchedReplyLeavesStatusAndTouchesNothingElse()
{
    Panel panel;
    panel.core.click(oneShot("Command55"));  // "L-MODE", CR7
    panel.comm.receive("03\r");
    QCOMPARE(qb(panel.displays.status), QByteArray(" No1,2 ON  : 2 Lamp mode"));
    panel.clock.advance(600);
    panel.displays.history.clear();
    panel.comm.receive("99\r");
    // Only the RXD display changes: no placeholder, no blanking.
    QCOMPARE(panel.displays.history.size(), std::size_t(1));
    QVERIFY(panel.displays.history[0].target == RecordingDisplays::Target::Rxd);
    QCOMPARE(qb(panel.displays.status), QByteArray(" No1,2 ON  : 2 Lamp mode"));
    QCOMPARE(qb(panel.displays.txd), QByteArray(" C R 7 CR "));
}

void TestStatusDecoder::lateRestOfReplyIsDecodedOnItsOwn()
{
    Panel panel;
    panel.core.click(oneShot("Command44"));  // CR0
    panel.clock.advance(100);
    panel.comm.receive("0");
    panel.clock.advance(400);  // the reply time-out empties the buffer
    QVERIFY(panel.monitor.rxBuffer().empty());
    panel.displays.setStatus(" Count down");
    panel.clock.advance(100);
    panel.comm.receive("0\r");
    QCOMPARE(qb(panel.displays.rxd), QByteArray(" 0 CR "));
    QCOMPARE(qb(panel.displays.status), QByteArray(" Count down"));
}

void TestStatusDecoder::slicingShowsPartialReplyAndIsOverwrittenAsMoreArrives()
{
    Panel panel;
    panel.core.click(oneShot("Command46"));  // CR3
    panel.comm.receive("12");
    QCOMPARE(qb(panel.displays.status), QByteArray(" 1 2  Hour Use"));
    panel.comm.receive("34\r");
    QCOMPARE(qb(panel.displays.status), QByteArray(" 1 2 3 4 CR  Hour Use"));
}

QTEST_APPLESS_MAIN(TestStatusDecoder)
#include "tst_statusdecoder.moc"
