#include <QtTest>
#include <string>
#include <string_view>

#include "core/panel/linesettings.h"
#include "core/panel/portconfiguration.h"
#include "support/bytes.h"
#include "support/corepanel.h"
#include "support/fakeserialcontrol.h"
#include "support/recordingdisplays.h"
#include "support/recordingmessagebox.h"

namespace {

using Target = RecordingDisplays::Target;

const std::string kTitle = "koru-panel";

QStringList toList(const std::vector<std::string> &lines)
{
    QStringList list;
    for (const std::string &line : lines)
        list.append(QString::fromStdString(line));
    return list;
}

// The port steps of the panel with a serial control that every port opens on, unless told
// otherwise.
struct Panel : CorePanel<RecordingDisplays> {
    Panel() : CorePanel(Port::Closed) {}
    // Start-up as the panel runs it: open COM1, then select "COM1".
    void startUp()
    {
        QVERIFY(!core.startUp());
        core.selectPort(1);
    }
    // What the serial control was told from now on.
    void forget()
    {
        comm.log.clear();
        comm.written.clear();
        displays.history.clear();
    }
};

}  // namespace

class TestPortConfiguration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUpOpensPort1At19200();
    void startUpSelectsCom1AndHidesTheSettingsFrame();
    void startUpFailureIsReturnedToTheCaller();
    void selectingPortWhileOpenClosesRenumbersAndReopens_data();
    void selectingPortWhileOpenClosesRenumbersAndReopens();
    void failedPortSelectionWarnsAndLeavesPortClosedOnTheOtherNumber_data();
    void failedPortSelectionWarnsAndLeavesPortClosedOnTheOtherNumber();
    void selectingPortWhileClosedOpensIt_data();
    void selectingPortWhileClosedOpensIt();
    void selectingPortWhileClosedCanFailAgain();
    void selectingPortAfterLostLineOpensIt();
    void speedChangeWhileOpenAppliesWithoutReopening_data();
    void speedChangeWhileOpenAppliesWithoutReopening();
    void speedChangeWhileClosedOnlyStoresTheSettings();
    void portSelectionKeepsTheSpeedInForce();
    void portSelectionTouchesNothingElse();
    void openingThatEndsLater_data();
    void openingThatEndsLater();
    void reselectingThePortThatIsConnectingKeepsTheConnection();
    void goodLineSettingsParse_data();
    void goodLineSettingsParse();
    void badLineSettingsAreRefused_data();
    void badLineSettingsAreRefused();
};

void TestPortConfiguration::startUpOpensPort1At19200()
{
    Panel panel;
    panel.comm.setCommPort(2);  // whatever it was before
    panel.forget();
    QVERIFY(!panel.core.startUp());
    QCOMPARE(toList(panel.comm.log),
             (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=true"}));
    QCOMPARE(panel.comm.commPort(), 1);
    QCOMPARE(qb(panel.comm.settings()), QByteArray("19200,N,8,1"));
    QVERIFY(panel.comm.portOpen());
    QVERIFY(panel.messages.shown.empty());
}

void TestPortConfiguration::startUpSelectsCom1AndHidesTheSettingsFrame()
{
    Panel panel;
    panel.startUp();
    QCOMPARE(toList(panel.comm.log),
             (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=true", "PortOpen=false",
                          "CommPort=1", "PortOpen=true"}));
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 1);
    QCOMPARE(panel.comm.opens, 2);
    QCOMPARE(panel.comm.closes, 1);
    QVERIFY(!panel.displays.frame8Visible);
    QCOMPARE(panel.displays.changesOf(Target::Frame8).size(), std::size_t(1));
    QVERIFY(panel.messages.shown.empty());
}

void TestPortConfiguration::startUpFailureIsReturnedToTheCaller()
{
    Panel panel;
    panel.comm.failOpen(
        1, {SerialErrorCode::NoSuchDevice, "Cannot open COM1 (/dev/ttyS0): no such device."});
    const auto error = panel.core.startUp();
    QVERIFY(error);
    QCOMPARE(error->number(), int(SerialErrorCode::NoSuchDevice));
    QCOMPARE(qb(error->description), QByteArray("Cannot open COM1 (/dev/ttyS0): no such device."));
    QVERIFY(!panel.comm.portOpen());
    // The caller shows it and ends the program; the port steps show nothing themselves.
    QVERIFY(panel.messages.shown.empty());
    QVERIFY(panel.displays.history.empty());
}

void TestPortConfiguration::selectingPortWhileOpenClosesRenumbersAndReopens_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("COM1 to COM2") << 1 << 2;
    QTest::newRow("COM2 to COM1") << 2 << 1;
    QTest::newRow("COM1 again") << 1 << 1;
}

void TestPortConfiguration::selectingPortWhileOpenClosesRenumbersAndReopens()
{
    QFETCH(int, from);
    QFETCH(int, to);
    Panel panel;
    panel.startUp();
    if (from == 2)
        panel.core.selectPort(2);
    panel.displays.setFrame8Visible(true);  // the "COM" button showed it
    panel.forget();
    const int opens = panel.comm.opens;

    panel.core.selectPort(to);
    QCOMPARE(
        toList(panel.comm.log),
        (QStringList{"PortOpen=false", QStringLiteral("CommPort=%1").arg(to), "PortOpen=true"}));
    QCOMPARE(panel.comm.commPort(), to);
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.opens, opens + 1);
    QVERIFY(!panel.displays.frame8Visible);
    QVERIFY(panel.messages.shown.empty());
}

void TestPortConfiguration::failedPortSelectionWarnsAndLeavesPortClosedOnTheOtherNumber_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("numberAfter");
    QTest::newRow("COM2 fails") << 2 << 1;
    QTest::newRow("COM1 fails") << 1 << 2;
}

void TestPortConfiguration::failedPortSelectionWarnsAndLeavesPortClosedOnTheOtherNumber()
{
    QFETCH(int, port);
    QFETCH(int, numberAfter);
    Panel panel;
    panel.startUp();
    if (port == 1) {
        panel.core.selectPort(2);  // open on COM2, so that COM1 is the change
    }
    const std::string description =
        "Cannot open COM" + std::to_string(port) + ": the port is in use by another program.";
    panel.comm.failOpen(port, {SerialErrorCode::InUse, description});
    panel.displays.setFrame8Visible(true);
    panel.forget();
    const int failedOpens = panel.comm.failedOpens;

    panel.core.selectPort(port);
    QCOMPARE(panel.messages.shown.size(), std::size_t(1));
    const auto &box = panel.messages.shown[0];
    QVERIFY(box.icon == MessageBox::Icon::Warning);
    QCOMPARE(qb(box.title), qb(kTitle));
    QCOMPARE(qb(box.text), qb(description));
    QCOMPARE(panel.comm.commPort(), numberAfter);
    QVERIFY(!panel.comm.portOpen());
    QVERIFY(panel.displays.frame8Visible);
    QVERIFY(panel.displays.changesOf(Target::Frame8).empty());
    // Tried once, not retried, and the number set last.
    QCOMPARE(panel.comm.failedOpens, failedOpens + 1);
    QCOMPARE(toList(panel.comm.log),
             (QStringList{"PortOpen=false", QStringLiteral("CommPort=%1").arg(port),
                          "PortOpen=true failed", QStringLiteral("CommPort=%1").arg(numberAfter)}));
    QCOMPARE(qb(panel.ports.commSettings()), QByteArray("19200,N,8,1"));
}

// A network port connects after setPortOpen() returned: its failure must end the panel when
// it was the start-up's, and warn as a refused selection does otherwise.
void TestPortConfiguration::openingThatEndsLater_data()
{
    QTest::addColumn<bool>("startUpLater");  // COM1 at start-up is a network port
    QTest::addColumn<bool>("startUpConnects");
    QTest::addColumn<int>("selected");  // 0: none after start-up
    QTest::addColumn<bool>("ends");
    QTest::addColumn<int>("numberAfter");
    QTest::addColumn<bool>("frame8");
    QTest::newRow("start-up fails") << true << false << 0 << true << 1 << false;
    QTest::newRow("selection fails") << false << true << 2 << false << 1 << true;
    QTest::newRow("start-up connected, selection fails") << true << true << 2 << false << 1 << true;
    QTest::newRow("open line refuses a speed") << false << true << -2 << false << 2 << false;
}

void TestPortConfiguration::openingThatEndsLater()
{
    QFETCH(bool, startUpLater);
    QFETCH(bool, startUpConnects);
    QFETCH(int, selected);
    QFETCH(bool, ends);
    QFETCH(int, numberAfter);
    QFETCH(bool, frame8);
    Panel panel;
    std::vector<int> startUpFailures;
    panel.core.setOnStartUpFailure(
        [&](const SerialError &error) { startUpFailures.push_back(error.number()); });
    const SerialError refused{SerialErrorCode::ConnectionRefused, "Cannot open: refused."};
    panel.comm.openLater = startUpLater;
    panel.startUp();
    if (startUpLater && startUpConnects)
        panel.comm.endOpening();
    panel.comm.openLater = true;
    if (selected != 0)
        panel.core.selectPort(std::abs(selected));
    if (selected < 0)
        panel.comm.endOpening();
    panel.comm.endOpening(refused);

    QCOMPARE(startUpFailures, ends ? std::vector<int>{7} : std::vector<int>{});
    QCOMPARE(panel.messages.shown.size(), std::size_t(ends ? 0 : 1));
    if (!ends)
        QCOMPARE(qb(panel.messages.shown[0].text), qb(refused.description));
    QCOMPARE(panel.comm.commPort(), numberAfter);
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.displays.frame8Visible, frame8);
}

void TestPortConfiguration::reselectingThePortThatIsConnectingKeepsTheConnection()
{
    // A server that takes one client at a time refuses a second connection while it is still
    // closing the first: start-up's COM1 option must not reconnect.
    Panel panel;
    panel.comm.openLater = true;
    panel.displays.setFrame8Visible(true);
    panel.startUp();
    QCOMPARE(panel.comm.opens, 1);
    QCOMPARE(panel.comm.closes, 0);
    QVERIFY(!panel.displays.frame8Visible);
    panel.core.selectPort(2);  // another port does change the connection
    QCOMPARE(panel.comm.opens, 2);
    QCOMPARE(panel.comm.closes, 1);
}

void TestPortConfiguration::selectingPortWhileClosedOpensIt_data()
{
    QTest::addColumn<int>("port");
    QTest::newRow("COM1") << 1;
    QTest::newRow("COM2") << 2;
}

void TestPortConfiguration::selectingPortWhileClosedOpensIt()
{
    // Closed after a failed selection of COM2: choosing a port opens it, so the panel does not
    // look ready while every frame would go nowhere.
    QFETCH(int, port);
    Panel panel;
    panel.startUp();
    panel.comm.failOpen(2, {SerialErrorCode::NoSuchDevice, "COM2 is busy"});
    panel.displays.setFrame8Visible(true);
    panel.core.selectPort(2);
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 1);
    QVERIFY(panel.displays.frame8Visible);
    panel.comm.allowOpen(2);
    panel.forget();

    panel.core.selectPort(port);
    QCOMPARE(toList(panel.comm.log),
             (QStringList{QStringLiteral("CommPort=%1").arg(port), "PortOpen=true"}));
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), port);
    QVERIFY(!panel.displays.frame8Visible);
    QCOMPARE(panel.messages.shown.size(), std::size_t(1));  // only the earlier failure
}

void TestPortConfiguration::selectingPortWhileClosedCanFailAgain()
{
    Panel panel;
    panel.startUp();
    panel.comm.failOpen(2, {SerialErrorCode::NoSuchDevice, "COM2 is busy"});
    panel.core.selectPort(2);
    panel.comm.failOpen(1, {SerialErrorCode::NoSuchDevice, "COM1 is gone"});
    panel.displays.setFrame8Visible(true);
    panel.forget();

    panel.core.selectPort(1);
    QCOMPARE(toList(panel.comm.log),
             (QStringList{"CommPort=1", "PortOpen=true failed", "CommPort=2"}));
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 2);
    QVERIFY(panel.displays.frame8Visible);
    QVERIFY(panel.displays.changesOf(Target::Frame8).empty());
    QCOMPARE(panel.messages.shown.size(), std::size_t(2));
    QCOMPARE(qb(panel.messages.shown[1].text), QByteArray("COM1 is gone"));
    QVERIFY(panel.messages.shown[1].icon == MessageBox::Icon::Warning);
    QCOMPARE(qb(panel.messages.shown[1].title), qb(kTitle));
}

void TestPortConfiguration::selectingPortAfterLostLineOpensIt()
{
    Panel panel;
    panel.startUp();
    panel.comm.loseLine();
    QVERIFY(!panel.comm.portOpen());
    panel.displays.setFrame8Visible(true);
    panel.core.selectPort(1);
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 1);
    QVERIFY(!panel.displays.frame8Visible);
}

void TestPortConfiguration::speedChangeWhileOpenAppliesWithoutReopening_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("9600") << qb(PortConfiguration::kSettings9600) << QByteArray("9600,N,8,1");
    QTest::newRow("19200") << qb(PortConfiguration::kSettings19200) << QByteArray("19200,N,8,1");
}

void TestPortConfiguration::speedChangeWhileOpenAppliesWithoutReopening()
{
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, expected);
    Panel panel;
    panel.startUp();
    panel.displays.setFrame8Visible(true);
    panel.forget();
    const int opens = panel.comm.opens;
    const int closes = panel.comm.closes;

    panel.core.selectSpeed(settings.toStdString());
    QCOMPARE(qb(panel.ports.commSettings()), expected);
    QCOMPARE(qb(panel.comm.settings()), expected);
    QCOMPARE(toList(panel.comm.log), QStringList{"Settings=" + QString::fromLatin1(expected)});
    QCOMPARE(panel.comm.opens, opens);
    QCOMPARE(panel.comm.closes, closes);
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 1);
    QVERIFY(!panel.displays.frame8Visible);
    QVERIFY(panel.messages.shown.empty());
}

void TestPortConfiguration::speedChangeWhileClosedOnlyStoresTheSettings()
{
    Panel panel;
    panel.displays.setFrame8Visible(true);
    panel.core.selectSpeed(PortConfiguration::kSettings9600);
    QCOMPARE(qb(panel.ports.commSettings()), QByteArray("9600,N,8,1"));
    QCOMPARE(qb(panel.comm.settings()), QByteArray("9600,N,8,1"));
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.comm.opens, 0);
    QVERIFY(!panel.displays.frame8Visible);
}

void TestPortConfiguration::portSelectionKeepsTheSpeedInForce()
{
    Panel panel;
    panel.startUp();
    panel.core.selectSpeed(PortConfiguration::kSettings9600);
    panel.forget();
    panel.core.selectPort(2);
    QCOMPARE(qb(panel.comm.settings()), QByteArray("9600,N,8,1"));
    QCOMPARE(qb(panel.ports.commSettings()), QByteArray("9600,N,8,1"));
    QVERIFY(!panel.comm.log.empty());
    for (const std::string &line : panel.comm.log)
        QVERIFY2(!line.starts_with("Settings="), line.c_str());
}

void TestPortConfiguration::portSelectionTouchesNothingElse()
{
    Panel panel;
    panel.startUp();
    panel.selectPrefix("A003");
    panel.core.sendCommand("CR0");
    panel.comm.receive("00\r");
    panel.core.sendCommand("CR0");  // awaiting a reply again, the first still received
    panel.forget();
    panel.core.selectPort(2);
    panel.core.selectPort(1);
    QVERIFY(panel.comm.written.empty());
    QCOMPARE(qb(panel.sender.lastCommand()), QByteArray("A003CR0\r"));
    QCOMPARE(qb(panel.monitor.rxBuffer()), QByteArray("00\r"));
    QCOMPARE(int(panel.monitor.awaitingReply()), 1);
    QCOMPARE(qb(panel.sender.idPrefix()), QByteArray("A003"));
    QCOMPARE(qb(panel.ports.commSettings()), QByteArray("19200,N,8,1"));
    // Of the displays, only the settings frame is touched.
    for (const auto &change : panel.displays.history)
        QVERIFY(change.target == Target::Frame8);
}

void TestPortConfiguration::goodLineSettingsParse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("19200,N,8,1") << QByteArray("19200,N,8,1") << 19200 << QStringLiteral("N") << 8
                                 << 1;
    QTest::newRow("9600,N,8,1") << QByteArray("9600,N,8,1") << 9600 << QStringLiteral("N") << 8
                                << 1;
    QTest::newRow("even parity, 7 bits, 2 stop")
        << QByteArray("4800,E,7,2") << 4800 << QStringLiteral("E") << 7 << 2;
    QTest::newRow("odd parity") << QByteArray("115200,O,8,1") << 115200 << QStringLiteral("O") << 8
                                << 1;
    QTest::newRow("mark parity, 5 bits")
        << QByteArray("300,M,5,1") << 300 << QStringLiteral("M") << 5 << 1;
    QTest::newRow("space parity, 6 bits")
        << QByteArray("1200,S,6,2") << 1200 << QStringLiteral("S") << 6 << 2;
}

void TestPortConfiguration::goodLineSettingsParse()
{
    QFETCH(QByteArray, text);
    QFETCH(int, baud);
    QFETCH(QString, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    const auto settings = LineSettings::parse(text.toStdString());
    QVERIFY(settings);
    QCOMPARE(settings->baud, baud);
    QCOMPARE(QString(QLatin1Char(settings->parity)), parity);
    QCOMPARE(settings->dataBits, dataBits);
    QCOMPARE(settings->stopBits, stopBits);
}

void TestPortConfiguration::badLineSettingsAreRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("baud only") << QByteArray("19200");
    QTest::newRow("three fields") << QByteArray("19200,N,8");
    QTest::newRow("five fields") << QByteArray("19200,N,8,1,1");
    QTest::newRow("trailing comma") << QByteArray("19200,N,8,1,");
    QTest::newRow("no baud") << QByteArray(",N,8,1");
    QTest::newRow("no parity") << QByteArray("19200,,8,1");
    QTest::newRow("no stop bits") << QByteArray("19200,N,8,");
    QTest::newRow("two parity letters") << QByteArray("19200,NN,8,1");
    QTest::newRow("unknown parity") << QByteArray("19200,X,8,1");
    QTest::newRow("nine data bits") << QByteArray("19200,N,9,1");
    QTest::newRow("four data bits") << QByteArray("19200,N,4,1");
    QTest::newRow("no stop bit") << QByteArray("19200,N,8,0");
    QTest::newRow("three stop bits") << QByteArray("19200,N,8,3");
    QTest::newRow("zero baud") << QByteArray("0,N,8,1");
    QTest::newRow("negative baud") << QByteArray("-9600,N,8,1");
    QTest::newRow("letters for baud") << QByteArray("fast,N,8,1");
    QTest::newRow("baud with unit") << QByteArray("19200bd,N,8,1");
    QTest::newRow("space before comma") << QByteArray("19200 ,N,8,1");
    QTest::newRow("space after comma") << QByteArray("19200, N,8,1");
    QTest::newRow("trailing space") << QByteArray("19200,N,8,1 ");
    QTest::newRow("semicolons") << QByteArray("19200;N;8;1");
    QTest::newRow("words for bits") << QByteArray("19200,N,eight,1");
    QTest::newRow("baud out of range") << QByteArray("99999999999,N,8,1");
}

void TestPortConfiguration::badLineSettingsAreRefused()
{
    QFETCH(QByteArray, text);
    QVERIFY(!LineSettings::parse(text.toStdString()));
}

QTEST_APPLESS_MAIN(TestPortConfiguration)
#include "tst_portconfiguration.moc"
