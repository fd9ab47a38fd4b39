// The real panel (Form1 on the program's serial control) driving simulated projectors
// through a real ser2net on 127.0.0.1: COM1 by rfc2217://, COM2 by tcp://.
#include <QLabel>
#include <QtTest>

#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "sim/qt/projectorsimulator.h"
#include "support/keys.h"
#include "support/recordingmessagebox.h"
#include "support/ser2netrig.h"
#include "support/virtualclock.h"
#include "widgets/form1.h"

namespace {

bool g_isolated = false;
const QtClock lineClock;

// The panel on the two ports given, its timers on a virtual clock.
struct Panel {
    explicit Panel(const DeviceMap &devices) : comm(devices, lineClock), form(clock, comm, messages)
    {
        form.setOnEnd([] {});
    }
    bool connected() const { return comm.portOpen() && !comm.opening(); }
    QWidget *child(const char *name) const { return form.findChild<QWidget *>(name); }
    QString label(const char *name) const { return form.findChild<QLabel *>(name)->text(); }

    VirtualClock clock;
    QtSerialControl comm;
    RecordingMessageBox messages;
    Form1 form;
};

}  // namespace

class TestNetEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void statusReplyIsDecoded();
    void everyButtonsFrameArrives_data();
    void everyButtonsFrameArrives();
    void speedChoiceReachesTheFarLine();
    void rawTcpPortCarriesTheBytes();
    void serverStoppedMidHoldClosesQuietlyAndReconnects();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();

private:
    // Frames that projectors took since the last call.
    QStringList received(std::vector<SimEvent> &events)
    {
        QStringList codes;
        for (const SimEvent &event : std::exchange(events, {})) {
            if (event.kind == SimEvent::Kind::Received)
                codes << QString::fromStdString(event.code);
        }
        return codes;
    }
    // Clicks a button, waits for its frame at the projector and the answer in RXD, and lets
    // the time-outs clear the displays and the receive buffer for the next exchange.
    bool exchange(const char *control, std::vector<SimEvent> &events, const QString &code)
    {
        QTest::mouseClick(m_panel->child(control), Qt::LeftButton);
        const bool arrived = arrives(events, code);
        const bool answered =
            QTest::qWaitFor([this] { return !m_panel->label("Label12").isEmpty(); });
        m_panel->clock.advance(1000);
        return arrived && answered;
    }
    bool arrives(std::vector<SimEvent> &events, const QString &code)
    {
        QStringList seen;
        QElapsedTimer waited;
        waited.start();
        while (!seen.contains(code) && waited.elapsed() < 5000) {
            QTest::qWait(2);
            seen += received(events);
        }
        return seen.contains(code);
    }

    ProjectorSimulator m_rfcSim{[] {
        SimulatorOptions options;
        options.projector.startOn = true;
        return options;
    }()};
    ProjectorSimulator m_tcpSim;
    std::vector<SimEvent> m_rfcEvents, m_tcpEvents;
    std::unique_ptr<Ser2NetRig> m_rig;
    std::unique_ptr<Panel> m_panel;
};

void TestNetEndToEnd::initTestCase()
{
    QVERIFY(m_rfcSim.openPty() && m_tcpSim.openPty());
    connect(&m_rfcSim, &ProjectorSimulator::traffic, this,
            [this](const SimEvent &event) { m_rfcEvents.push_back(event); });
    connect(&m_tcpSim, &ProjectorSimulator::traffic, this,
            [this](const SimEvent &event) { m_tcpEvents.push_back(event); });
    m_rig = std::make_unique<Ser2NetRig>(std::vector<Ser2NetRig::Connection>{
        {"telnet(rfc2217),tcp", m_rfcSim.slavePath().toStdString()},
        {"tcp", m_tcpSim.slavePath().toStdString()}});
    QVERIFY2(m_rig->start(), m_rig->logPath().c_str());

    m_panel = std::make_unique<Panel>(DeviceMap{m_rig->url(0), m_rig->url(1)});
    QVERIFY(m_panel->form.Form_Load());  // connecting goes on behind the shown window
    m_panel->form.show();
    QTRY_VERIFY(m_panel->connected());
    pressCtrlH(&m_panel->form);
    QCOMPARE(m_panel->form.Height(), 7200);
}

void TestNetEndToEnd::everyButtonsFrameArrives_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("hold");
    for (const OneShotButton &row : kOneShotButtons)
        QTest::newRow(row.control.data()) << row.control.data() << row.code.data() << false;
    for (const HoldButton &row : kHoldButtons)
        QTest::newRow(row.control.data()) << row.control.data() << row.command.data() << true;
}

void TestNetEndToEnd::everyButtonsFrameArrives()
{
    QFETCH(QString, control);
    QFETCH(QString, code);
    QFETCH(bool, hold);
    QWidget *button = m_panel->child(qPrintable(control));
    received(m_rfcEvents);
    if (hold) {
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
    } else {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QVERIFY(arrives(m_rfcEvents, code));
    // Its acknowledgement too, before the time-outs clear the displays for the next row.
    QTRY_VERIFY(!m_panel->label("Label12").isEmpty());
    m_panel->clock.advance(1000);
}

void TestNetEndToEnd::statusReplyIsDecoded()
{
    m_panel->clock.advance(1000);
    QTest::mouseClick(m_panel->child("Command44"), Qt::LeftButton);
    QTRY_COMPARE(m_panel->label("Label22"), QStringLiteral(" Power ON"));
    m_panel->clock.advance(1000);
}

void TestNetEndToEnd::speedChoiceReachesTheFarLine()
{
    QCOMPARE(m_rfcSim.lineBaud(), 19200);
    QTest::mouseClick(m_panel->child("Option10"), Qt::LeftButton);
    QTRY_COMPARE(m_rfcSim.lineBaud(), 9600);
    QVERIFY(exchange("Command17", m_rfcEvents, "C00"));
    QTest::mouseClick(m_panel->child("Option9"), Qt::LeftButton);
    QTRY_COMPARE(m_rfcSim.lineBaud(), 19200);
    QVERIFY(m_panel->messages.shown.empty());
}

void TestNetEndToEnd::rawTcpPortCarriesTheBytes()
{
    QTest::mouseClick(m_panel->child("Option2"), Qt::LeftButton);
    QTRY_VERIFY(m_panel->connected());
    QCOMPARE(m_panel->comm.commPort(), 2);
    QTest::mouseClick(m_panel->child("Command44"), Qt::LeftButton);
    QVERIFY(arrives(m_tcpEvents, "CR0"));
    QTRY_VERIFY(!m_panel->label("Label22").isEmpty());
    m_panel->clock.advance(1000);
    QTest::mouseClick(m_panel->child("Option1"), Qt::LeftButton);
    QTRY_VERIFY(m_panel->connected());
    QVERIFY(m_panel->messages.shown.empty());
}

void TestNetEndToEnd::serverStoppedMidHoldClosesQuietlyAndReconnects()
{
    Panel &panel = *m_panel;
    QTest::mousePress(panel.child("Command36"), Qt::LeftButton);
    QVERIFY(arrives(m_rfcEvents, "C4B"));  // Focus +
    panel.clock.advance(100);
    m_rig->stop();
    QTRY_VERIFY(!panel.comm.portOpen());
    panel.clock.advance(500);  // ticks go on sending to a closed port, and nowhere
    QTest::mouseRelease(panel.child("Command36"), Qt::LeftButton);
    QVERIFY(!panel.form.core().holds().repeatTimer().enabled());
    QCOMPARE(panel.form.core().holds().heldKey(), 0);
    QVERIFY(panel.messages.shown.empty());

    // Choosing the port again reconnects, once the server is back.
    QVERIFY(m_rig->start());
    QTest::mouseClick(panel.child("Option1"), Qt::LeftButton);
    QTRY_VERIFY(panel.connected());
    QVERIFY(exchange("Command17", m_rfcEvents, "C00"));
    QVERIFY(panel.messages.shown.empty());
}

void TestNetEndToEnd::failuresNameTheirCause_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("refused") << QString("rfc2217://127.0.0.1:%1").arg(Ser2NetRig::freePort())
                             << int(SerialErrorCode::ConnectionRefused)
                             << ": the connection was refused.\nCheck that the serial server";
    QTest::newRow("unknown name") << "rfc2217://no-such-projector.invalid:4001"
                                  << int(SerialErrorCode::HostNotFound)
                                  << ": the host \"no-such-projector.invalid\" was not found.";
}

void TestNetEndToEnd::failuresNameTheirCause()
{
    QFETCH(QString, url);
    QFETCH(int, code);
    QFETCH(QString, says);
    if (code == int(SerialErrorCode::HostNotFound) && !g_isolated)
        QSKIP("name lookups cannot be kept on this machine (no private mount namespace)");
    const std::string name = url.toStdString();

    // At start-up: the start-up box, and the panel ends.
    Panel startUp(DeviceMap{name, "/nonexistent"});
    QVERIFY(startUp.form.Form_Load());
    QTRY_VERIFY(startUp.form.ended());
    QCOMPARE(startUp.messages.shown.size(), std::size_t(1));
    QVERIFY(startUp.messages.shown[0].icon == MessageBox::Icon::Critical);
    const std::string expected =
        "Error " + std::to_string(code) + ": Cannot open COM1 (" + name + ")" + says.toStdString();
    QCOMPARE(startUp.messages.shown[0].text.substr(0, expected.size()), expected);

    // At the port selection: the warning, and the number back on COM1, which stays usable.
    Panel selection(DeviceMap{m_rig->url(0), name});
    QVERIFY(selection.form.Form_Load());
    QTRY_VERIFY(selection.connected());
    QTest::mouseClick(selection.child("Option2"), Qt::LeftButton);
    QTRY_COMPARE(selection.messages.shown.size(), std::size_t(1));
    QVERIFY(selection.messages.shown[0].icon == MessageBox::Icon::Warning);
    QVERIFY2(selection.messages.shown[0].text.find("COM2 (" + name + ")" + says.toStdString()) !=
                 std::string::npos,
             selection.messages.shown[0].text.c_str());
    QCOMPARE(selection.comm.commPort(), 1);
    QVERIFY(!selection.form.ended());
}

int main(int argc, char *argv[])
{
    // Before Qt starts any thread: a namespace is the whole process's.
    g_isolated = Ser2NetRig::isolateNameLookups();
    QApplication app(argc, argv);
    TestNetEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_netendtoend.moc"
