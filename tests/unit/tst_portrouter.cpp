// One serial control for two ports that may be a device or a network address each.
#include <QtTest>

#include "core/panel/portrouter.h"
#include "support/fakeserialcontrol.h"
#include "support/recordingevents.h"

class TestPortRouter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachPortGoesToTheControlOfItsName();
};

void TestPortRouter::eachPortGoesToTheControlOfItsName()
{
    FakeSerialControl local;
    FakeSerialControl network;
    PortRouter router(DeviceMap{"/dev/ttyUSB0", "rfc2217://10.0.0.5:4001"}, local, network);
    RecordingEvents events;
    router.setEvents(&events);
    QVERIFY(router.setSettings("9600,N,8,1"));

    router.setCommPort(1);
    QVERIFY(!router.setPortOpen(true));
    QVERIFY(router.output("A\r"));
    QCOMPARE(local.written, std::vector<std::string>{"A\r"});
    QCOMPARE(network.opens, 0);
    // COM2 while COM1's line is open: opening an open port, which fails and opens nothing.
    router.setCommPort(2);
    QCOMPARE(router.setPortOpen(true)->code, SerialErrorCode::AlreadyOpen);
    QCOMPARE(network.opens, 0);

    router.closePort();
    network.openLater = true;
    QVERIFY(!router.setPortOpen(true));
    QVERIFY(router.opening());
    QVERIFY(!router.output("B\r"));  // connecting: dropped whole
    network.endOpening();
    QVERIFY(router.output("C\r"));
    QCOMPARE(network.written, std::vector<std::string>{"C\r"});
    QCOMPARE(local.written.size(), std::size_t(1));
    // Both follow the speed and the port, so either is ready for the next selection.
    QCOMPARE(local.settings(), std::string("9600,N,8,1"));
    QCOMPARE(network.commPort(), 2);

    network.receive("OK\r");
    network.endOpening(SerialError{SerialErrorCode::SettingsRejected, "rejected"});
    local.loseLine();
    QCOMPARE(events.bytes, std::string("OK\r"));
    QCOMPARE(events.openings, 1);
    QCOMPARE(events.failures.size(), std::size_t(1));
    QCOMPARE(events.failures[0].code, SerialErrorCode::SettingsRejected);
    QCOMPARE(events.losses, 1);
}

QTEST_APPLESS_MAIN(TestPortRouter)
#include "tst_portrouter.moc"
