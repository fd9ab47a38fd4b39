#include <QTest>

#include "sim/core/projectorchain.h"

namespace {

QList<int> toList(const std::vector<int> &addresses)
{
    return QList<int>(addresses.begin(), addresses.end());
}

QList<int> poweringUp(const ProjectorChain &chain)
{
    QList<int> addresses;
    for (int address = 1; address <= chain.length(); ++address) {
        if (chain.projector(address).power() == PowerState::CountDown)
            addresses << address;
    }
    return addresses;
}

}  // namespace

class TestSimChain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shouldRouteFramesByAddress_data();
    void shouldRouteFramesByAddress();
    void shouldAnswerFromTheAddressedProjector();
};

void TestSimChain::shouldRouteFramesByAddress_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QList<int>>("takenBy");
    QTest::addColumn<int>("answeredBy");

    QTest::newRow("A002 of 4") << 4 << "A002" << QList<int>{2} << 2;
    QTest::newRow("A004 of 4") << 4 << "A004" << QList<int>{4} << 4;
    QTest::newRow("A001 of 1") << 1 << "A001" << QList<int>{1} << 1;
    QTest::newRow("AFFF of 4") << 4 << "AFFF" << QList<int>{1, 2, 3, 4} << 1;
    QTest::newRow("AFFF of 1") << 1 << "AFFF" << QList<int>{1} << 1;
    QTest::newRow("no prefix of 4") << 4 << "" << QList<int>{1, 2, 3, 4} << 1;
    QTest::newRow("no prefix of 1") << 1 << "" << QList<int>{1} << 1;
    QTest::newRow("A004 of 2") << 2 << "A004" << QList<int>{} << 0;
    QTest::newRow("A002 of 1") << 1 << "A002" << QList<int>{} << 0;
}

void TestSimChain::shouldRouteFramesByAddress()
{
    QFETCH(int, length);
    QFETCH(QString, prefix);
    QFETCH(QList<int>, takenBy);
    QFETCH(int, answeredBy);

    ProjectorChain chain(length);
    const ChainAnswer answer = chain.take({prefix.toStdString(), "C00"}, 0);
    QCOMPARE(toList(answer.takenBy), takenBy);
    QCOMPARE(answer.answeredBy, answeredBy);
    QCOMPARE(answer.reply, answeredBy ? std::string(kAckReply) : std::string());
    // Only the projectors that took the frame act on it.
    QCOMPARE(poweringUp(chain), takenBy);
}

void TestSimChain::shouldAnswerFromTheAddressedProjector()
{
    ProjectorChain chain(4);
    QCOMPARE(chain.take({"A003", "CR9"}, 0).reply, std::string("KORU-SIM 003\r"));
    QCOMPARE(chain.take({"AFFF", "CR9"}, 0).reply, std::string("KORU-SIM 001\r"));
    QCOMPARE(chain.take({"", "CR9"}, 0).reply, std::string("KORU-SIM 001\r"));
    chain.take({"A002", "C00"}, 0);
    QCOMPARE(chain.take({"A002", "CR0"}, 1).reply, std::string("40\r"));
    QCOMPARE(chain.take({"A001", "CR0"}, 1).reply, std::string("80\r"));
}

QTEST_APPLESS_MAIN(TestSimChain)
#include "tst_simchain.moc"
