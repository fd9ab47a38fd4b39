// The panel's start-up, its views and keys, the COM and END buttons and the port options,
// driven through the real widgets.
#include <QScreen>

#include "support/keys.h"
#include "support/panelfixture.h"
#include "widgets/views.h"

namespace {

const QString kShowData = QString::fromUtf8("\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B");
const QString kHideData =
    QString::fromUtf8("\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044");

// Client heights in pixels of the three views with the nominal 19-pixel title bar and
// 3-pixel border.
constexpr int kCompactClientPx = 347 - 25;
constexpr int kDataClientPx = 443 - 25;
constexpr int kFullClientPx = 480 - 25;

}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startUpOpensCom1At19200InTheCompactView();
    void startUpPlacesTheTopAsIfTheWindowHadItsFullHeight_data();
    void startUpPlacesTheTopAsIfTheWindowHadItsFullHeight();
    void startUpPlacesTheWindowOnTheScreen();
    void startUpFailureShowsTheErrorAndNeverShowsThePanel();

    void onlyCtrlHOpensTheFullView_data();
    void onlyCtrlHOpensTheFullView();
    void ctrlHInTheDataViewGrowsToFullAndSaysClose();
    void ctrlHRepeatsLikeTheFirstPress();
    void dataViewButtonAtExactly6000GoesCompact();
    void closeInTheFullViewGivesTheCompactView();
    void spaceOnTheHiddenBelowEdgeButtonOpensTheDataView();
    void keyPreviewNeverConsumesTheKey();

    void comButtonShowsPortSettingsForFiveSeconds();
    void dataViewClickRestartsTheFiveSecondsWhilePortSettingsShow();
    void endClosesThePortAndEndsAtOnce();
    void endWithThePortClosedStillEnds();
    void closeBoxEndsTheProgram();

    void choosingCom2ReopensThePortOnCom2();
    void failedCom2ReportsAndLeavesThePortClosed_data();
    void failedCom2ReportsAndLeavesThePortClosed();
    void choosingCom1AfterTheFailureOpensTheportAgain();
    void choosingCom1AfterTheFailureReportsAFailureAgain();
    void choosing9600AppliesAtOnceWithoutReopening();
    void sendingWithThePortClosedShowsThePortSettings();
    void aLostPortShowsNoMessageAndSendsGoNowhere();
};

void TestForm1::startUpOpensCom1At19200InTheCompactView()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    const std::vector<std::string> expected{"CommPort=1",    "Settings=19200,N,8,1",
                                            "PortOpen=true", "PortOpen=false",
                                            "CommPort=1",    "PortOpen=true"};
    QCOMPARE(panel.comm.log, expected);
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.form->core().ports().commSettings(), std::string("19200,N,8,1"));
    QCOMPARE(panel.form->core().commands().idPrefix(), std::string());
    QCOMPARE(panel.form->core().commands().lastCommand(), std::string());
    QCOMPARE(panel.form->core().holds().arrowMode(), 0);
    QCOMPARE(panel.form->core().holds().heldKey(), 0);
    QCOMPARE(panel.form->core().traffic().awaitingReply(), 0);
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
    QCOMPARE(panel.form->height(), kCompactClientPx);
    QCOMPARE(panel.form->width(), 633);
    QVERIFY(!panel.frame8Shown());
    QVERIFY(!panel.get("Command34")->isVisible());
    QVERIFY(panel.get<QRadioButton>("Option1")->isChecked());
    QVERIFY(!panel.get<QRadioButton>("Option2")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option9")->isChecked());
    QVERIFY(panel.get<QRadioButton>("Option3")->isChecked());
    for (const IntervalTimer *timer :
         {&panel.form->core().holds().repeatTimer(), &panel.form->core().traffic().replyTimeout(),
          &panel.form->core().settingsFrame().timeout(),
          &panel.form->core().traffic().displayTimeout()})
        QVERIFY(!timer->enabled());
    QVERIFY(panel.comm.written.empty());
    QVERIFY(panel.messages.shown.empty());
    QCOMPARE(panel.form->windowTitle(), QStringLiteral("KORU   M2V & NV7R    CONTROL   Ver.1.31"));
}

void TestForm1::startUpPlacesTheTopAsIfTheWindowHadItsFullHeight_data()
{
    QTest::addColumn<double>("screenWidth");
    QTest::addColumn<double>("screenHeight");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("top");
    // 1024 x 768 pixels; the panel is 9585 twips wide outside, 7200 high by design.
    QTest::newRow("1024x768") << 15360.0 << 11520.0 << 2887.5 << 2160.0;
    QTest::newRow("odd difference") << 9600.0 << 7201.0 << 7.5 << 0.5;
    QTest::newRow("smaller than the panel") << 9000.0 << 6000.0 << -292.5 << -600.0;
}

void TestForm1::startUpPlacesTheTopAsIfTheWindowHadItsFullHeight()
{
    QFETCH(double, screenWidth);
    QFETCH(double, screenHeight);
    QFETCH(double, left);
    QFETCH(double, top);
    const views::Placement place =
        views::startPlacement(screenWidth, screenHeight, 9585, views::kFullHeight);
    QCOMPARE(place.left, left);
    QCOMPARE(place.top, top);
    // The compact window is not centred: it sits 1000 twips higher than a centred one.
    QCOMPARE((screenHeight - views::kCompactHeight) / 2 - place.top, 1000.0);
}

void TestForm1::startUpPlacesTheWindowOnTheScreen()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    const QRect screen = panel.form->screen()->geometry();
    const double left = (screen.width() * 15.0 - 9585) / 2 / 15;
    const double top = (screen.height() * 15.0 - 7200) / 2 / 15;
    QCOMPARE(panel.form->frameGeometry().left(), screen.left() + qRound(left));
    QCOMPARE(panel.form->frameGeometry().top(), screen.top() + qRound(top));
}

void TestForm1::startUpFailureShowsTheErrorAndNeverShowsThePanel()
{
    PanelFixture panel;
    panel.comm.failOpen(1, SerialError{SerialErrorCode::NoSuchDevice,
                                       "Cannot open COM1 (/dev/ttyS0): no such device."});
    QVERIFY(!panel.form->Form_Load());
    QCOMPARE(panel.messages.shown.size(), std::size_t(1));
    QCOMPARE(panel.messages.shown[0].icon, MessageBox::Icon::Critical);
    QCOMPARE(panel.messages.shown[0].title, std::string("koru-panel"));
    QCOMPARE(panel.messages.shown[0].text,
             std::string("Error 1: Cannot open COM1 (/dev/ttyS0): no such device."));
    QVERIFY(!panel.form->isVisible());
    QVERIFY(!panel.comm.portOpen());
}

void TestForm1::onlyCtrlHOpensTheFullView_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("opens");
    QTest::newRow("Ctrl+H") << int(Qt::Key_H) << int(Qt::ControlModifier) << true;
    QTest::newRow("H") << int(Qt::Key_H) << int(Qt::NoModifier) << false;
    QTest::newRow("Shift+H") << int(Qt::Key_H) << int(Qt::ShiftModifier) << false;
    QTest::newRow("Ctrl+Shift+H") << int(Qt::Key_H) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << false;
    QTest::newRow("Ctrl+Alt+H") << int(Qt::Key_H) << int(Qt::ControlModifier | Qt::AltModifier)
                                << false;
    QTest::newRow("Ctrl+G") << int(Qt::Key_G) << int(Qt::ControlModifier) << false;
    QTest::newRow("Ctrl+H with keypad")
        << int(Qt::Key_H) << int(Qt::ControlModifier | Qt::KeypadModifier) << true;
}

void TestForm1::onlyCtrlHOpensTheFullView()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, opens);
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.get("Command17")->setFocus();
    sendKey(panel.form.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    auto *dataView = panel.get<QPushButton>("Command34");
    QCOMPARE(panel.form->Height(), opens ? views::kFullHeight : views::kCompactHeight);
    QCOMPARE(panel.form->height(), opens ? kFullClientPx : kCompactClientPx);
    QCOMPARE(dataView->isVisible(), opens);
    QCOMPARE(dataView->text(), opens ? QStringLiteral("CLOSE") : kShowData);
}

void TestForm1::ctrlHInTheDataViewGrowsToFullAndSaysClose()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command34");
    panel.click("Command34");
    QCOMPARE(panel.form->Height(), views::kDataHeight);
    QCOMPARE(panel.form->height(), kDataClientPx);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), kHideData);

    pressCtrlH(panel.form.get());
    QCOMPARE(panel.form->Height(), views::kFullHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), QStringLiteral("CLOSE"));

    // In the full view it changes nothing.
    pressCtrlH(panel.form.get());
    QCOMPARE(panel.form->Height(), views::kFullHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), QStringLiteral("CLOSE"));
}

void TestForm1::ctrlHRepeatsLikeTheFirstPress()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command34");  // back to the compact view
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
    sendKey(panel.form.get(), Qt::Key_H, Qt::ControlModifier, true);
    QCOMPARE(panel.form->Height(), views::kFullHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), QStringLiteral("CLOSE"));
}

void TestForm1::dataViewButtonAtExactly6000GoesCompact()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.form->setHeight(views::kOpenThreshold);
    panel.click("Command34");
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), kShowData);

    panel.form->setHeight(views::kOpenThreshold - 1);
    panel.click("Command34");
    QCOMPARE(panel.form->Height(), views::kDataHeight);
}

void TestForm1::closeInTheFullViewGivesTheCompactView()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command34");
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), kShowData);
    // Once shown it stays visible, though below the window's edge.
    QVERIFY(panel.get("Command34")->isVisible());
}

void TestForm1::spaceOnTheHiddenBelowEdgeButtonOpensTheDataView()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QApplication::setActiveWindow(panel.form.get());
    pressCtrlH(panel.form.get());
    panel.click("Command34");
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
    QWidget *dataView = panel.get("Command34");
    QVERIFY(dataView->mapTo(panel.form.get(), QPoint(0, 0)).y() >= panel.form->height());
    dataView->setFocus();
    QTest::keyClick(dataView, Qt::Key_Space);
    QCOMPARE(panel.form->Height(), views::kDataHeight);
    QCOMPARE(panel.get<QPushButton>("Command34")->text(), kHideData);
}

void TestForm1::keyPreviewNeverConsumesTheKey()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QApplication::setActiveWindow(panel.form.get());
    pressCtrlH(panel.form.get());
    auto *dataView = panel.get<QPushButton>("Command34");
    dataView->setFocus();
    // Ctrl+H reaches the panel first, then Space still activates the focused button.
    QTest::keyClick(dataView, Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(dataView, Qt::Key_Space);
    QCOMPARE(panel.form->Height(), views::kCompactHeight);
}

void TestForm1::comButtonShowsPortSettingsForFiveSeconds()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.click("Command33");
    QVERIFY(panel.frame8Shown());
    QVERIFY(panel.get<QRadioButton>("Option1")->isVisible());
    panel.clock.advance(4999);
    QVERIFY(panel.frame8Shown());
    panel.clock.advance(1);
    QVERIFY(!panel.frame8Shown());
    QVERIFY(!panel.form->core().settingsFrame().timeout().enabled());
}

void TestForm1::dataViewClickRestartsTheFiveSecondsWhilePortSettingsShow()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command33");
    panel.clock.advance(3000);
    panel.click("Command34");
    panel.clock.advance(4999);
    QVERIFY(panel.frame8Shown());
    panel.clock.advance(1);
    QVERIFY(!panel.frame8Shown());
}

void TestForm1::endClosesThePortAndEndsAtOnce()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.click("Command44");
    panel.takeWritten();
    panel.press("Command15");  // a hold in progress: its ticks must stop too
    panel.takeWritten();
    panel.click("Command16");
    QCOMPARE(panel.ends, 1);
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.comm.log.back(), std::string("PortOpen=false"));
    QVERIFY(panel.form->ended());
    for (const IntervalTimer *timer :
         {&panel.form->core().holds().repeatTimer(), &panel.form->core().traffic().replyTimeout(),
          &panel.form->core().settingsFrame().timeout(),
          &panel.form->core().traffic().displayTimeout()})
        QVERIFY(!timer->enabled());
    const QString rxd = panel.rxd();
    panel.comm.receive("00\r");
    panel.clock.advance(10000);
    QCOMPARE(panel.rxd(), rxd);
    QVERIFY(panel.comm.written.empty());
    QVERIFY(panel.messages.shown.empty());
}

void TestForm1::endWithThePortClosedStillEnds()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.comm.failOpen(2, SerialError{SerialErrorCode::NoSuchDevice, "no COM2"});
    panel.click("Command33");
    panel.click("Option2");
    QVERIFY(!panel.comm.portOpen());
    panel.messages.shown.clear();
    panel.click("Command16");
    QCOMPARE(panel.ends, 1);
    QVERIFY(panel.messages.shown.empty());
}

void TestForm1::closeBoxEndsTheProgram()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.form->close();
    QCOMPARE(panel.ends, 1);
    QVERIFY(panel.form->ended());
}

void TestForm1::choosingCom2ReopensThePortOnCom2()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.comm.log.clear();
    panel.click("Command33");
    panel.click("Option2");
    const std::vector<std::string> expected{"PortOpen=false", "CommPort=2", "PortOpen=true"};
    QCOMPARE(panel.comm.log, expected);
    QVERIFY(panel.comm.portOpen());
    QVERIFY(!panel.frame8Shown());
    QCOMPARE(panel.form->core().ports().commSettings(), std::string("19200,N,8,1"));
    QVERIFY(panel.comm.written.empty());
}

void TestForm1::failedCom2ReportsAndLeavesThePortClosed_data()
{
    QTest::addColumn<bool>("connecting");
    QTest::newRow("refused at once") << false;
    QTest::newRow("failed while connecting") << true;
}

void TestForm1::failedCom2ReportsAndLeavesThePortClosed()
{
    QFETCH(bool, connecting);
    PanelFixture panel;
    QVERIFY(panel.start());
    const SerialError error{SerialErrorCode::NoSuchDevice,
                            "Cannot open COM2 (/dev/ttyS1): no such device."};
    panel.click("Command33");
    if (connecting) {
        // A network port: the choice returns at once, and the failure comes later.
        panel.comm.openLater = true;
        panel.click("Option2");
        QVERIFY(panel.messages.shown.empty());
        panel.comm.endOpening(error);
    } else {
        panel.comm.failOpen(2, error);
        panel.click("Option2");
    }
    QCOMPARE(panel.messages.shown.size(), std::size_t(1));
    QCOMPARE(panel.messages.shown[0].icon, MessageBox::Icon::Warning);
    QCOMPARE(panel.messages.shown[0].title, std::string("koru-panel"));
    QCOMPARE(panel.messages.shown[0].text,
             std::string("Cannot open COM2 (/dev/ttyS1): no such device."));
    QCOMPARE(panel.comm.commPort(), 1);
    QVERIFY(!panel.comm.portOpen());
    QVERIFY(panel.frame8Shown());
    // The option shows the port number in force, not the one that failed.
    QVERIFY(panel.get<QRadioButton>("Option1")->isChecked());
    QVERIFY(!panel.get<QRadioButton>("Option2")->isChecked());
}

void TestForm1::choosingCom1AfterTheFailureOpensTheportAgain()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.comm.failOpen(2, SerialError{SerialErrorCode::NoSuchDevice, "no COM2"});
    panel.click("Command33");
    panel.click("Option2");
    panel.click("Option1");
    QVERIFY(panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 1);
    QVERIFY(!panel.frame8Shown());
    QCOMPARE(panel.messages.shown.size(), std::size_t(1));
}

void TestForm1::choosingCom1AfterTheFailureReportsAFailureAgain()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.comm.failOpen(2, SerialError{SerialErrorCode::NoSuchDevice, "no COM2"});
    panel.click("Command33");
    panel.click("Option2");
    panel.comm.failOpen(1, SerialError{SerialErrorCode::InUse, "COM1 is in use"});
    panel.click("Option1");
    QCOMPARE(panel.messages.shown.size(), std::size_t(2));
    QCOMPARE(panel.messages.shown[1].text, std::string("COM1 is in use"));
    QVERIFY(!panel.comm.portOpen());
    QCOMPARE(panel.comm.commPort(), 2);
    QVERIFY(panel.frame8Shown());
}

void TestForm1::choosing9600AppliesAtOnceWithoutReopening()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    const int opens = panel.comm.opens;
    panel.click("Command33");
    panel.click("Option10");
    QCOMPARE(panel.form->core().ports().commSettings(), std::string("9600,N,8,1"));
    QCOMPARE(panel.comm.settings(), std::string("9600,N,8,1"));
    QCOMPARE(panel.comm.opens, opens);
    QVERIFY(panel.comm.portOpen());
    QVERIFY(!panel.frame8Shown());
    // The COM settings time-out still runs and hides the hidden frame again.
    QVERIFY(panel.form->core().settingsFrame().timeout().enabled());
}

void TestForm1::sendingWithThePortClosedShowsThePortSettings()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.comm.failOpen(2, SerialError{SerialErrorCode::NoSuchDevice, "no COM2"});
    panel.click("Command33");
    panel.click("Option2");
    panel.clock.advance(5000);
    QVERIFY(!panel.frame8Shown());

    panel.click("Command17");
    QVERIFY(panel.comm.written.empty());
    QCOMPARE(panel.txd(), QStringLiteral(" C 0 0 CR "));
    QVERIFY(panel.frame8Shown());
    panel.clock.advance(500);
    QCOMPARE(panel.rxd(), QStringLiteral(" X X X X"));
    panel.clock.advance(4499);
    QVERIFY(panel.frame8Shown());
    panel.clock.advance(1);
    QVERIFY(!panel.frame8Shown());
}

void TestForm1::aLostPortShowsNoMessageAndSendsGoNowhere()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.press("Command1");
    panel.clock.advance(250);
    QCOMPARE(panel.takeWritten().size(), std::size_t(2));
    panel.comm.loseLine();
    panel.clock.advance(500);
    QVERIFY(panel.messages.shown.empty());
    panel.release("Command1");
    QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
    panel.clock.advance(2000);
    QVERIFY(panel.comm.written.empty());
    panel.click("Command17");
    QVERIFY(panel.comm.written.empty());
    QVERIFY(panel.frame8Shown());
    // Choosing the port again opens it: a re-plugged adapter needs no restart.
    panel.click("Option1");
    QVERIFY(panel.comm.portOpen());
    panel.click("Command17");
    QCOMPARE(panel.comm.written.size(), std::size_t(1));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
