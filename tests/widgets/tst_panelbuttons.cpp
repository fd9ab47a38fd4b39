// Every command button of the panel, pressed and clicked through the real widgets: the bytes
// each puts on the line under each projector address, the hold buttons with any mouse button,
// and holds whose release never comes.
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "support/keys.h"
#include "support/panelfixture.h"

namespace {

std::string hex(const std::string &bytes)
{
    std::string text;
    for (const unsigned char byte : bytes) {
        static const char digits[] = "0123456789ABCDEF";
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

}  // namespace

class TestPanelButtons : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clickPutsTheFrameOnTheLine_data();
    void clickPutsTheFrameOnTheLine();
    void everyOneShotButtonSendsOneFramePerClick();
    void pjSelectSendsNothingAndKeepsTheDisplays();
    void menuOnSetsUpTheArrowPad();
    void holdButtonsRepeatUntilReleased();
    void anyMouseButtonStartsAHold_data();
    void anyMouseButtonStartsAHold();
    void releaseOutsideTheButtonStillEndsTheHold();
    void keyboardActivationOfAHoldButtonSendsNothing();
    void digitalZoomReleaseMakesTheArrowsFast();
    void holdEndsWhenTheWindowIsDeactivated();
    void holdEndsWhenTheWindowIsBlockedOrHidden_data();
    void holdEndsWhenTheWindowIsBlockedOrHidden();
    void statusQueryIsDecodedThroughTheWidgets();
};

void TestPanelButtons::clickPutsTheFrameOnTheLine_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("bytes");
    QTest::newRow("SINGLE POWER ON") << "Option3"
                                     << "Command17"
                                     << "43 30 30 0D";
    QTest::newRow("003 POWER ON") << "Option7"
                                  << "Command17"
                                  << "41 30 30 33 43 30 30 0D";
    QTest::newRow("ALL POWER ON") << "Option4"
                                  << "Command17"
                                  << "41 46 46 46 43 30 30 0D";
    QTest::newRow("ALL SOUND MUTE ON") << "Option4"
                                       << "Command19"
                                       << "41 46 46 46 43 30 42 0D";
    QTest::newRow("001 STATUS") << "Option5"
                                << "Command44"
                                << "41 30 30 31 43 52 30 0D";
    QTest::newRow("SINGLE STATUS") << "Option3"
                                   << "Command44"
                                   << "43 52 30 0D";
    QTest::newRow("SINGLE STATUS 2") << "Option3"
                                     << "Command12"
                                     << "43 52 41 0D";
    QTest::newRow("ALL INPUT 2") << "Option4"
                                 << "Command28"
                                 << "41 46 46 46 43 30 36 0D";
    QTest::newRow("002 P-TIMER") << "Option6"
                                 << "Command14"
                                 << "41 30 30 32 43 38 41 0D";
    QTest::newRow("004 Half 2") << "Option8"
                                << "Command58"
                                << "41 30 30 34 43 37 32 0D";
    QTest::newRow("003 PC type") << "Option7"
                                 << "Command38"
                                 << "41 30 30 33 43 52 39 0D";
}

void TestPanelButtons::clickPutsTheFrameOnTheLine()
{
    QFETCH(QString, address);
    QFETCH(QString, button);
    QFETCH(QString, bytes);
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Option6");  // start from another address, so the click below changes it
    panel.click(address.toLatin1().constData());
    panel.click(button.toLatin1().constData());
    const auto written = panel.takeWritten();
    QCOMPARE(written.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(hex(written[0])), bytes);
    QCOMPARE(panel.form->core().commands().lastCommand(), written[0]);
}

void TestPanelButtons::everyOneShotButtonSendsOneFramePerClick()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    for (const OneShotButton &row : kOneShotButtons) {
        panel.click(row.control.data());
        panel.click(row.control.data());
        const auto written = panel.takeWritten();
        const std::string frame = std::string(row.code) + "\r";
        QCOMPARE(written, (std::vector<std::string>{frame, frame}));
    }
    // A hold button does nothing on a click: its frame comes from the press.
    for (const HoldButton &row : kHoldButtons) {
        Q_EMIT panel.get<QPushButton>(row.control.data())->clicked();
        QVERIFY(panel.comm.written.empty());
    }
}

void TestPanelButtons::pjSelectSendsNothingAndKeepsTheDisplays()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command17");
    panel.comm.receive("\x06\r");
    panel.takeWritten();
    panel.click("Option6");
    QVERIFY(panel.comm.written.empty());
    QCOMPARE(panel.txd(), QStringLiteral(" C 0 0 CR "));
    QCOMPARE(panel.rxd(), QStringLiteral(" &CR "));
    QCOMPARE(panel.form->core().commands().idPrefix(), std::string("A002"));
    panel.click("Option6");
    QCOMPARE(panel.form->core().commands().idPrefix(), std::string("A002"));
    panel.click("Option3");
    panel.click("Command17");
    QCOMPARE(panel.takeWritten(), std::vector<std::string>{"C00\r"});
}

void TestPanelButtons::menuOnSetsUpTheArrowPad()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.press("Command6");  // SELECT leaves a 500 ms repeat behind
    panel.release("Command6");
    QCOMPARE(panel.form->core().holds().repeatTimer().interval(), 500);
    panel.click("Command23");
    QCOMPARE(panel.form->core().holds().arrowMode(), 1);
    QCOMPARE(panel.form->core().holds().repeatTimer().interval(), 200);
    QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
    panel.click("Command24");  // MENU OFF leaves it as it is
    QCOMPARE(panel.form->core().holds().arrowMode(), 1);
    panel.takeWritten();

    panel.press("Command8");
    QCOMPARE(panel.form->core().traffic().replyTimeout().interval(), 150);
    QCOMPARE(panel.form->core().traffic().displayTimeout().interval(), 190);
    panel.clock.advance(400);
    QCOMPARE(panel.takeWritten(), (std::vector<std::string>{"C3A\r", "C3A\r", "C3A\r"}));
    panel.release("Command8");
    QCOMPARE(panel.form->core().traffic().replyTimeout().interval(), 500);
    QCOMPARE(panel.form->core().traffic().displayTimeout().interval(), 1000);
}

void TestPanelButtons::holdButtonsRepeatUntilReleased()
{
    for (const HoldButton &row : kHoldButtons) {
        PanelFixture panel;
        QVERIFY(panel.start());
        const std::string frame = std::string(row.command) + "\r";
        panel.press(row.control.data());
        QCOMPARE(panel.form->core().holds().heldKey(), row.code);
        const int interval = row.kind == HoldButton::Kind::Arrow ? 200 : row.repeatMs;
        panel.clock.advance(interval * 3);
        const auto written = panel.takeWritten();
        QCOMPARE(written, std::vector<std::string>(4, frame));
        panel.release(row.control.data());
        QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
        QVERIFY(panel.txd().isEmpty());
        panel.clock.advance(5000);
        QVERIFY2(panel.comm.written.empty(), row.control.data());
    }
}

void TestPanelButtons::anyMouseButtonStartsAHold_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("left") << int(Qt::LeftButton);
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestPanelButtons::anyMouseButtonStartsAHold()
{
    QFETCH(int, button);
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Option4");
    panel.press("Command50", Qt::MouseButton(button));
    QVERIFY(panel.get<QPushButton>("Command50")->isDown());
    panel.clock.advance(250);
    const auto written = panel.takeWritten();
    QCOMPARE(written.size(), std::size_t(2));
    QCOMPARE(hex(written[1]), std::string("41 46 46 46 43 38 45 0D"));
    panel.release("Command50", Qt::MouseButton(button));
    QVERIFY(!panel.get<QPushButton>("Command50")->isDown());
    panel.clock.advance(1000);
    QVERIFY(panel.comm.written.empty());
}

void TestPanelButtons::releaseOutsideTheButtonStillEndsTheHold()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.press("Command15");
    panel.clock.advance(100);
    QTest::mouseRelease(panel.get("Command15"), Qt::LeftButton, {}, QPoint(-40, -40));
    QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
    QCOMPARE(panel.form->core().holds().heldKey(), 0);
    panel.takeWritten();
    panel.clock.advance(1000);
    QVERIFY(panel.comm.written.empty());
}

void TestPanelButtons::keyboardActivationOfAHoldButtonSendsNothing()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QApplication::setActiveWindow(panel.form.get());
    QWidget *volume = panel.get("Command1");
    volume->setFocus();
    QTest::keyClick(volume, Qt::Key_Space);
    panel.clock.advance(1000);
    QVERIFY(panel.comm.written.empty());
    QCOMPARE(panel.form->core().holds().heldKey(), 0);
}

void TestPanelButtons::digitalZoomReleaseMakesTheArrowsFast()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.press("Command48");
    panel.release("Command48");
    QCOMPARE(panel.form->core().holds().arrowMode(), 3);
    QCOMPARE(panel.form->core().holds().repeatTimer().interval(), 5);
    panel.takeWritten();
    panel.press("Command5");
    panel.clock.advance(50);
    panel.release("Command5");
    QCOMPARE(panel.takeWritten().size(), std::size_t(11));
}

void TestPanelButtons::holdEndsWhenTheWindowIsDeactivated()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    QApplication::setActiveWindow(panel.form.get());
    QVERIFY(QTest::qWaitForWindowActive(panel.form.get()));
    panel.press("Command59");
    panel.clock.advance(100);
    QCOMPARE(panel.takeWritten().size(), std::size_t(3));

    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
    QCOMPARE(panel.form->core().holds().heldKey(), 0);
    QCOMPARE(panel.form->core().traffic().replyTimeout().interval(), 500);
    QVERIFY(!panel.get<QPushButton>("Command59")->isDown());
    panel.clock.advance(2000);
    QVERIFY(panel.comm.written.empty());

    // The release that comes late does nothing more; the next press holds again.
    panel.release("Command59");
    QVERIFY(!panel.form->core().traffic().displayTimeout().enabled());
    panel.press("Command59");
    QCOMPARE(panel.takeWritten().size(), std::size_t(1));
    QVERIFY(panel.form->core().holds().repeatTimer().enabled());
}

void TestPanelButtons::holdEndsWhenTheWindowIsBlockedOrHidden_data()
{
    // 0: no event at all, only the safety stop's time.
    QTest::addColumn<int>("eventType");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("deactivated") << int(QEvent::WindowDeactivate) << 0;
    QTest::newRow("blocked by a modal box") << int(QEvent::WindowBlocked) << 0;
    QTest::newRow("hidden") << int(QEvent::Hide) << 0;
    QTest::newRow("mouse grab lost") << int(QEvent::UngrabMouse) << 0;
    QTest::newRow("no release for 60 s") << 0 << HoldEngine::kSafetyStopMs;
}

void TestPanelButtons::holdEndsWhenTheWindowIsBlockedOrHidden()
{
    QFETCH(int, eventType);
    QFETCH(int, waitMs);
    PanelFixture panel;
    QVERIFY(panel.start());
    panel.press("Command1");
    auto *button = panel.get<GraphicalButton>("Command1");
    QVERIFY(button->isDown());
    if (eventType != 0) {
        QEvent event{QEvent::Type(eventType)};
        // The grab is the button's; the window's own events go to the window.
        QObject *target =
            eventType == QEvent::UngrabMouse ? static_cast<QObject *>(button) : panel.form.get();
        QApplication::sendEvent(target, &event);
    }
    if (waitMs > 0) {
        panel.clock.advance(waitMs - 1);
        QVERIFY(panel.form->core().holds().repeatTimer().enabled());
        panel.clock.advance(1);
    }
    QVERIFY(!panel.form->core().holds().repeatTimer().enabled());
    QVERIFY(!button->isDown());
    panel.takeWritten();
    panel.clock.advance(1000);
    QVERIFY(panel.comm.written.empty());
}

void TestPanelButtons::statusQueryIsDecodedThroughTheWidgets()
{
    PanelFixture panel;
    QVERIFY(panel.start());
    pressCtrlH(panel.form.get());
    panel.click("Command55");
    panel.comm.receive("13\r");
    QCOMPARE(panel.status(), QStringLiteral(" No1,2 ON  : Half Lamp mode-1"));
    panel.clock.advance(999);
    QCOMPARE(panel.status(), QStringLiteral(" No1,2 ON  : Half Lamp mode-1"));
    panel.clock.advance(1);
    QVERIFY(panel.status().isEmpty());
}

QTEST_MAIN(TestPanelButtons)
#include "tst_panelbuttons.moc"
