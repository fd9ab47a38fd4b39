// koru-pjlink's configuration file: what a good file gives, and for each mistake the line
// and what is wrong.
#include <QTest>

#include "core/pjlink/pjlinkconfig.h"

class TestPjlinkConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void chainShouldGiveAnEndpointForEachProjector();
    void mistakeShouldNameTheFileLineAndWhatIsWrong_data();
    void mistakeShouldNameTheFileLineAndWhatIsWrong();
};

void TestPjlinkConfig::chainShouldGiveAnEndpointForEachProjector()
{
    const PjlinkConfig config = parsePjlinkConfig(
        "# a chain behind a serial server\n"
        "[projector]\n"
        "line = rfc2217://127.0.0.1:4001\n"
        "speed = 9600\n"
        "address = 001\n"
        "listen = 127.0.0.1:4352\n"
        "password = Hall1Secret\n"
        "name = Hall left\n"
        "input 31 = 3\n"
        "input 11 = 1\n"
        "\n"
        "[projector]\n"
        "  line=rfc2217://127.0.0.1:4001  \n"
        "speed = 9600\n"
        "address = 004\n"
        "listen = [::1]:4353\n",
        "koru-pjlink.conf");
    QCOMPARE(QString::fromStdString(config.error), QString());
    QCOMPARE(config.endpoints.size(), std::size_t(2));
    const PjlinkEndpoint &first = config.endpoints[0];
    QCOMPARE(first.speed, 9600);
    QCOMPARE(first.projector.idPrefix, std::string("A001"));
    QCOMPARE(first.listenHost, std::string("127.0.0.1"));
    QCOMPARE(first.projector.password, std::string("Hall1Secret"));
    QCOMPARE(first.projector.name, std::string("Hall left"));
    QCOMPARE(first.projector.inputs.size(), std::size_t(2));
    QCOMPARE(first.projector.inputs[0].pjlink, std::string("11"));
    QCOMPARE(first.projector.inputs[1].projector, 3);
    const PjlinkEndpoint &second = config.endpoints[1];
    QCOMPARE(second.line, std::string("rfc2217://127.0.0.1:4001"));
    QCOMPARE(second.projector.idPrefix, std::string("A004"));
    QCOMPARE(second.listenHost, std::string("::1"));
    QCOMPARE(second.listenPort, 4353);
    QVERIFY(second.projector.password.empty());
    QCOMPARE(second.projector.inputs.size(), std::size_t(3));
}

void TestPjlinkConfig::mistakeShouldNameTheFileLineAndWhatIsWrong_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << "# nothing\n"
                           << "f:1: no [projector] in the file";
    QTest::newRow("section")
        << "[projectors]\n"
        << "f:1: unknown section [projectors]; each projector is a [projector]";
    QTest::newRow("before section") << "line = /dev/ttyS0\n"
                                    << "f:1: a key before the first [projector]";
    QTest::newRow("no equals") << "[projector]\nline /dev/ttyS0\n"
                               << "f:2: not KEY = VALUE: line /dev/ttyS0";
    QTest::newRow("unknown key") << "[projector]\nport = 1\n"
                                 << "f:2: unknown key port";
    QTest::newRow("no line") << "[projector]\nspeed = 9600\n[projector]\nline = x\n"
                             << "f:1: the projector has no line";
    QTest::newRow("speed") << "[projector]\nline = x\nspeed = 38400\n"
                           << "f:3: speed is 19200 or 9600, not 38400";
    QTest::newRow("address") << "[projector]\nline = x\naddress = all\n"
                             << "f:3: address is single or 001 to 004, not all";
    QTest::newRow("listen port") << "[projector]\nline = x\nlisten = 0.0.0.0:70000\n"
                                 << "f:3: listen's port is not 1 to 65535: 0.0.0.0:70000";
    QTest::newRow("listen form") << "[projector]\nline = x\nlisten = 4352\n"
                                 << "f:3: listen is not HOST:PORT: 4352";
    QTest::newRow("password") << "[projector]\nline = x\npassword = a b\n"
                              << "f:3: password is 1 to 32 visible characters, no spaces";
    QTest::newRow("long name") << "[projector]\nline = x\nname = " + QString(65, 'n') + "\n"
                               << "f:3: name is at most 64 printable characters";
    QTest::newRow("input") << "[projector]\nline = x\ninput 61 = 1\n"
                           << "f:3: not a PJLink input (11 to 59): 61";
    QTest::newRow("input target") << "[projector]\nline = x\ninput 11 = 4\n"
                                  << "f:3: input 11 is the projector's input 1, 2 or 3";
    QTest::newRow("input twice") << "[projector]\nline = x\ninput 11 = 1\ninput 11 = 2\n"
                                 << "f:4: input 11 is mapped twice";
    QTest::newRow("same endpoint")
        << "[projector]\nline = x\naddress = 001\n[projector]\nline = y\n"
        << "f:4: listens where projector 1 does";
    QTest::newRow("single on a chain")
        << "[projector]\nline = x\n[projector]\nline = x\nlisten = 0.0.0.0:4353\n"
        << "f:3: a single projector is the only one on its line; give each of a chain its address";
    QTest::newRow("same address") << "[projector]\nline = x\naddress = 002\n[projector]\nline = "
                                     "x\naddress = 002\nlisten = 0.0.0.0:4353\n"
                                  << "f:4: address 002 is projector 1's on the same line";
    QTest::newRow("speeds of a line") << "[projector]\nline = x\naddress = 001\n[projector]\nline "
                                         "= x\naddress = 002\nspeed = 9600\nlisten = 0.0.0.0:4353\n"
                                      << "f:4: speed differs from projector 1 on its line";
}

void TestPjlinkConfig::mistakeShouldNameTheFileLineAndWhatIsWrong()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const PjlinkConfig config = parsePjlinkConfig(text.toStdString(), "f");
    QCOMPARE(QString::fromStdString(config.error), error);
    QVERIFY(config.endpoints.empty());
}

QTEST_APPLESS_MAIN(TestPjlinkConfig)
#include "tst_pjlinkconfig.moc"
