#include <QtTest>
#include <array>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel/commandsender.h"
#include "core/panel/intervaltimer.h"
#include "core/protocol/frame.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "support/bytes.h"
#include "support/corepanel.h"
#include "support/goldentables.h"
#include "support/recordingdisplays.h"
#include "support/virtualclock.h"

namespace {

// Bytes as "43 30 30 0D".
QByteArray hex(std::string_view bytes)
{
    return qb(bytes).toHex(' ').toUpper();
}

const OneShotButton *programOneShot(std::string_view control)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.control == control)
            return &button;
    }
    return nullptr;
}

const AddressOption *programAddress(std::string_view caption)
{
    for (const AddressOption &option : kAddressOptions) {
        if (option.caption == caption)
            return &option;
    }
    return nullptr;
}

// The program's command for a control of either table.
std::string_view programCommand(std::string_view control)
{
    if (const OneShotButton *button = programOneShot(control))
        return button->code;
    if (const HoldButton *button = findHoldButton(control))
        return button->command;
    return {};
}

// The panel's logic on a fake line that notes every frame handed to it.
struct Sending : CorePanel<RecordingDisplays> {
    std::vector<std::string> handed;

    Sending() : CorePanel(Port::Closed)
    {
        comm.onOutput = [this](std::string_view frame) { handed.emplace_back(frame); };
    }
    // A D.Zoom press and release: the arrow pad left repeating every 5 ms in arrow mode 3.
    void leaveArrowsFast()
    {
        core.press(*findHoldButton("Command48"));
        core.release(*findHoldButton("Command48"));
        handed.clear();
    }
};

}  // namespace

class TestFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addressOptionsGiveTheirPrefixes_data();
    void addressOptionsGiveTheirPrefixes();
    void oneShotButtonsSendTheirCodes_data();
    void oneShotButtonsSendTheirCodes();
    void oneShotTableHasThirtyButtonsInOrder();
    void onlyMenuOnAndAImageSetUpTheArrowPad();
    void holdButtonsSendTheirCommands_data();
    void holdButtonsSendTheirCommands();
    void holdTableHasSeventeenButtonsInOrder();
    void repeatTablePairsEveryCodeWithItsCommand();
    void everyCommandIsFramedUnderEveryAddress_data();
    void everyCommandIsFramedUnderEveryAddress();
    void framesMatchTheGivenExamples_data();
    void framesMatchTheGivenExamples();
    void sendCommandKeepsFrameAsLastCommandAndSendsIt();
    void sendCommandFramesWithThePrefixInForceAtTheMoment();
    void twoQuickClicksSendTwoCompleteFramesWithoutWaiting();
    void clickingTheSameButtonTwiceSendsTheSameFrameTwice();
    void selectingAnAddressSendsNothing();
    void selectingTheSelectedAddressAgainChangesNothing();
    void menuOnSetsRepeatIntervalAndArrowModeButLeavesTimerStopped_data();
    void menuOnSetsRepeatIntervalAndArrowModeButLeavesTimerStopped();
    void menuOffLeavesArrowSetUpAsItWas();
};

void TestFrame::addressOptionsGiveTheirPrefixes_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("prefix");
    for (const golden::Address &address : golden::kAddresses)
        QTest::newRow(address.caption)
            << QString::fromUtf8(address.control) << QString::fromUtf8(address.caption)
            << QByteArray(address.prefix);
}

void TestFrame::addressOptionsGiveTheirPrefixes()
{
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(QByteArray, prefix);
    const AddressOption *option = programAddress(caption.toStdString());
    QVERIFY2(option, qPrintable(caption));
    QCOMPARE(QString::fromUtf8(qb(option->control)), control);
    QCOMPARE(qb(option->idPrefix), prefix);

    Sending s;
    s.selectPrefix("A004");
    s.core.selectAddress(*option);
    QCOMPARE(qb(s.sender.idPrefix()), prefix);
}

void TestFrame::oneShotButtonsSendTheirCodes_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("code");
    for (const golden::OneShot &button : golden::kOneShots)
        QTest::newRow(button.control)
            << QString::fromUtf8(button.control) << QString::fromUtf8(button.heading)
            << QString::fromUtf8(button.caption) << QByteArray(button.code);
}

void TestFrame::oneShotButtonsSendTheirCodes()
{
    QFETCH(QString, control);
    QFETCH(QString, heading);
    QFETCH(QString, caption);
    QFETCH(QByteArray, code);
    const OneShotButton *button = programOneShot(control.toStdString());
    QVERIFY2(button, qPrintable(control));
    QCOMPARE(qb(button->code), code);
    QCOMPARE(QString::fromUtf8(qb(button->caption)), caption);
    // Buttons grouped under a heading carry it; the others have none of their own.
    if (!heading.isEmpty())
        QCOMPARE(QString::fromUtf8(qb(button->heading)), heading);

    // A click hands exactly one frame.
    Sending s;
    s.core.click(*button);
    QCOMPARE(s.handed.size(), std::size_t(1));
    QCOMPARE(qb(s.handed[0]), code + "\r");
}

void TestFrame::oneShotTableHasThirtyButtonsInOrder()
{
    QCOMPARE(kOneShotButtons.size(), golden::kOneShots.size());
    for (std::size_t i = 0; i < golden::kOneShots.size(); ++i)
        QCOMPARE(qb(kOneShotButtons[i].control), QByteArray(golden::kOneShots[i].control));
}

void TestFrame::onlyMenuOnAndAImageSetUpTheArrowPad()
{
    std::set<std::string> withExtra;
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.extra != OneShotButton::Extra::None)
            withExtra.insert(std::string(button.control));
    }
    QCOMPARE(withExtra, (std::set<std::string>{"Command13", "Command23"}));

    // And clicking any other leaves the repeat interval and arrow mode alone.
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.extra != OneShotButton::Extra::None)
            continue;
        Sending s;
        s.leaveArrowsFast();
        s.core.click(button);
        QCOMPARE(s.timer1.interval(), 5);
        QCOMPARE(int(s.engine.arrowMode()), 3);
    }
}

void TestFrame::holdButtonsSendTheirCommands_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("heldKey");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("arrow");
    QTest::addColumn<int>("repeatMs");
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<int>("displayMs");
    for (const golden::Hold &button : golden::kHolds)
        QTest::newRow(button.control)
            << QString::fromUtf8(button.control) << QString::fromUtf8(button.caption)
            << button.heldKey << QByteArray(button.command) << button.arrow << button.repeatMs
            << button.replyMs << button.displayMs;
}

void TestFrame::holdButtonsSendTheirCommands()
{
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(int, heldKey);
    QFETCH(QByteArray, command);
    QFETCH(bool, arrow);
    QFETCH(int, repeatMs);
    QFETCH(int, replyMs);
    QFETCH(int, displayMs);
    const HoldButton *button = findHoldButton(control.toStdString());
    QVERIFY2(button, qPrintable(control));
    QCOMPARE(QString::fromUtf8(qb(button->caption)), caption);
    QCOMPARE(int(button->code), heldKey);
    QCOMPARE(qb(button->command), command);
    QCOMPARE(button->kind == HoldButton::Kind::Arrow, arrow);
    if (!arrow) {
        QCOMPARE(button->repeatMs, repeatMs);
        QCOMPARE(button->replyTimeoutMs, replyMs);
        QCOMPARE(button->displayTimeoutMs, displayMs);
    }
    // Only the two D.Zoom buttons set the arrow pad up at their release.
    const bool digitalZoom = control == "Command48" || control == "Command49";
    QCOMPARE(button->kind == HoldButton::Kind::DigitalZoom, digitalZoom);
}

void TestFrame::holdTableHasSeventeenButtonsInOrder()
{
    QCOMPARE(kHoldButtons.size(), golden::kHolds.size());
    for (std::size_t i = 0; i < golden::kHolds.size(); ++i)
        QCOMPARE(qb(kHoldButtons[i].control), QByteArray(golden::kHolds[i].control));
}

void TestFrame::repeatTablePairsEveryCodeWithItsCommand()
{
    for (const golden::Hold &button : golden::kHolds) {
        const auto command = repeatCommand(std::uint8_t(button.heldKey));
        QVERIFY2(command, button.control);
        QCOMPARE(qb(*command), QByteArray(button.command));
    }
    // The entry the release of "SELECT" leaves behind.
    QCOMPARE(qb(repeatCommand(14).value_or("")), QByteArray("C3E"));
    // No entry for the gaps in the numbering, nor for "nothing held".
    for (int code : {0, 11, 12, 15, 16, 23, 255})
        QVERIFY2(!repeatCommand(std::uint8_t(code)), qPrintable(QString::number(code)));
}

void TestFrame::everyCommandIsFramedUnderEveryAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("frameHex");
    std::vector<std::pair<const char *, const char *>> commands;
    for (const golden::OneShot &button : golden::kOneShots)
        commands.emplace_back(button.control, button.codeHex);
    for (const golden::Hold &button : golden::kHolds)
        commands.emplace_back(button.control, button.commandHex);
    QCOMPARE(commands.size(), std::size_t(47));
    for (const golden::Address &address : golden::kAddresses) {
        for (const auto &[control, codeHex] : commands) {
            QByteArray expected = address.prefixHex;
            if (!expected.isEmpty())
                expected += ' ';
            expected += QByteArray(codeHex) + " 0D";
            QTest::addRow("%s %s", address.caption, control)
                << QString::fromUtf8(address.caption) << QString::fromUtf8(control) << expected;
        }
    }
}

void TestFrame::everyCommandIsFramedUnderEveryAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, control);
    QFETCH(QByteArray, frameHex);
    const AddressOption *option = programAddress(address.toStdString());
    QVERIFY(option);
    const std::string_view command = programCommand(control.toStdString());
    QVERIFY2(!command.empty(), qPrintable(control));

    const std::string frame = buildFrame(option->idPrefix, command);
    QCOMPARE(hex(frame), frameHex);
    QCOMPARE(int(frame.size()), address == "SINGLE" ? 4 : 8);

    // The send step builds the same bytes from the selected option.
    Sending s;
    s.core.selectAddress(*option);
    s.core.sendCommand(command);
    QCOMPARE(hex(s.sender.lastCommand()), frameHex);
    QCOMPARE(s.handed.size(), std::size_t(1));
    QCOMPARE(hex(s.handed[0]), frameHex);
}

void TestFrame::framesMatchTheGivenExamples_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("frameHex");
    QTest::newRow("SINGLE C00") << "SINGLE"
                                << "Command17" << QByteArray("43 30 30 0D");
    QTest::newRow("003 C00") << "003"
                             << "Command17" << QByteArray("41 30 30 33 43 30 30 0D");
    QTest::newRow("ALL C0B") << "ALL"
                             << "Command19" << QByteArray("41 46 46 46 43 30 42 0D");
    QTest::newRow("001 CR0") << "001"
                             << "Command44" << QByteArray("41 30 30 31 43 52 30 0D");
    QTest::newRow("ALL POWER ON") << "ALL"
                                  << "Command17" << QByteArray("41 46 46 46 43 30 30 0D");
    QTest::newRow("SINGLE STATUS") << "SINGLE"
                                   << "Command44" << QByteArray("43 52 30 0D");
    QTest::newRow("SINGLE STATUS 2") << "SINGLE"
                                     << "Command12" << QByteArray("43 52 41 0D");
    QTest::newRow("ALL INPUT MODE 2") << "ALL"
                                      << "Command28" << QByteArray("41 46 46 46 43 30 36 0D");
    QTest::newRow("ALL Keystone +") << "ALL"
                                    << "Command50" << QByteArray("41 46 46 46 43 38 45 0D");
    QTest::newRow("SINGLE arrow up") << "SINGLE"
                                     << "Command5" << QByteArray("43 33 43 0D");
}

void TestFrame::framesMatchTheGivenExamples()
{
    QFETCH(QString, address);
    QFETCH(QString, control);
    QFETCH(QByteArray, frameHex);
    const AddressOption *option = programAddress(address.toStdString());
    QVERIFY(option);
    Sending s;
    s.core.selectAddress(*option);
    s.core.sendCommand(programCommand(control.toStdString()));
    QCOMPARE(hex(s.sender.lastCommand()), frameHex);
}

void TestFrame::sendCommandKeepsFrameAsLastCommandAndSendsIt()
{
    Sending s;
    QVERIFY(s.sender.lastCommand().empty());
    s.selectPrefix("A002");
    s.core.sendCommand("C8A");
    QCOMPARE(qb(s.sender.lastCommand()), QByteArray("A002C8A\r"));
    QCOMPARE(s.handed.size(), std::size_t(1));
    QCOMPARE(qb(s.handed[0]), QByteArray("A002C8A\r"));
}

void TestFrame::sendCommandFramesWithThePrefixInForceAtTheMoment()
{
    Sending s;
    s.core.selectAddress(*programAddress("002"));
    s.core.sendCommand("C00");
    s.core.selectAddress(*programAddress("SINGLE"));
    s.core.sendCommand("C00");
    QCOMPARE(s.handed.size(), std::size_t(2));
    QCOMPARE(hex(s.handed[0]), QByteArray("41 30 30 32 43 30 30 0D"));
    QCOMPARE(hex(s.handed[1]), QByteArray("43 30 30 0D"));
}

void TestFrame::twoQuickClicksSendTwoCompleteFramesWithoutWaiting()
{
    Sending s;
    s.core.click(*programOneShot("Command17"));
    s.core.click(*programOneShot("Command44"));
    QCOMPARE(s.handed.size(), std::size_t(2));
    QCOMPARE(qb(s.handed[0]), QByteArray("C00\r"));
    QCOMPARE(qb(s.handed[1]), QByteArray("CR0\r"));
    QCOMPARE(qb(s.sender.lastCommand()), QByteArray("CR0\r"));
}

void TestFrame::clickingTheSameButtonTwiceSendsTheSameFrameTwice()
{
    Sending s;
    s.selectPrefix("A003");
    s.core.click(*programOneShot("Command17"));
    s.core.click(*programOneShot("Command17"));
    QCOMPARE(s.handed.size(), std::size_t(2));
    QCOMPARE(hex(s.handed[0]), QByteArray("41 30 30 33 43 30 30 0D"));
    QCOMPARE(hex(s.handed[1]), QByteArray("41 30 30 33 43 30 30 0D"));
}

void TestFrame::selectingAnAddressSendsNothing()
{
    Sending s;
    s.core.sendCommand("C00");
    for (const AddressOption &option : kAddressOptions)
        s.core.selectAddress(option);
    QCOMPARE(s.handed.size(), std::size_t(1));
    QCOMPARE(qb(s.sender.lastCommand()), QByteArray("C00\r"));
    QCOMPARE(qb(s.sender.idPrefix()), QByteArray("A004"));
}

void TestFrame::selectingTheSelectedAddressAgainChangesNothing()
{
    Sending s;
    s.core.selectAddress(*programAddress("ALL"));
    s.core.selectAddress(*programAddress("ALL"));
    QCOMPARE(qb(s.sender.idPrefix()), QByteArray("AFFF"));
    QVERIFY(s.handed.empty());
    s.core.sendCommand("C0B");
    QCOMPARE(hex(s.handed.at(0)), QByteArray("41 46 46 46 43 30 42 0D"));
}

void TestFrame::menuOnSetsRepeatIntervalAndArrowModeButLeavesTimerStopped_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("MENU ON") << "Command23" << QByteArray("C1C\r");
    QTest::newRow("A-IMAGE") << "Command13" << QByteArray("C89\r");
}

void TestFrame::menuOnSetsRepeatIntervalAndArrowModeButLeavesTimerStopped()
{
    QFETCH(QString, control);
    QFETCH(QByteArray, frame);
    Sending s;
    s.leaveArrowsFast();
    s.core.click(*programOneShot(control.toStdString()));
    QCOMPARE(qb(s.sender.lastCommand()), frame);
    QCOMPARE(s.handed.size(), std::size_t(1));
    QCOMPARE(s.timer1.interval(), 200);
    QCOMPARE(int(s.engine.arrowMode()), 1);
    QVERIFY(!s.timer1.enabled());
}

void TestFrame::menuOffLeavesArrowSetUpAsItWas()
{
    Sending s;
    s.core.click(*programOneShot("Command23"));
    s.core.click(*programOneShot("Command24"));
    QCOMPARE(qb(s.sender.lastCommand()), QByteArray("C1D\r"));
    QCOMPARE(s.timer1.interval(), 200);
    QCOMPARE(int(s.engine.arrowMode()), 1);
}

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
