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
#include "support/corepanel.h"
#include "support/recordingdisplays.h"
#include "support/virtualclock.h"

namespace {

QByteArray qb(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// Bytes as "43 30 30 0D".
QByteArray hex(std::string_view bytes)
{
    return qb(bytes).toHex(' ').toUpper();
}

// The address settings, written out from the PJ Select row.
struct Address {
    const char *control;
    const char *caption;
    const char *prefix;
    const char *prefixHex;
};
constexpr std::array<Address, 6> kAddresses{{
    {"Option3", "SINGLE", "", ""},
    {"Option4", "ALL", "AFFF", "41 46 46 46"},
    {"Option5", "001", "A001", "41 30 30 31"},
    {"Option6", "002", "A002", "41 30 30 32"},
    {"Option7", "003", "A003", "41 30 30 33"},
    {"Option8", "004", "A004", "41 30 30 34"},
}};

// The one-shot buttons, written out from the button table: control, heading, caption, code
// and the code's bytes.
struct OneShot {
    const char *control;
    const char *heading;
    const char *caption;
    const char *code;
    const char *codeHex;
};
constexpr std::array<OneShot, 30> kOneShots{{
    {"Command17", "POWER", "ON", "C00", "43 30 30"},
    {"Command18", "POWER", "OFF", "C01", "43 30 31"},
    {"Command27", "INPUT MODE", "1", "C05", "43 30 35"},
    {"Command28", "INPUT MODE", "2", "C06", "43 30 36"},
    {"Command29", "INPUT MODE", "3", "C07", "43 30 37"},
    {"Command23", "MENU", "ON", "C1C", "43 31 43"},
    {"Command24", "MENU", "OFF", "C1D", "43 31 44"},
    {"Command19", "SOUND MUTE", "ON", "C0B", "43 30 42"},
    {"Command20", "SOUND MUTE", "OFF", "C0C", "43 30 43"},
    {"Command21", "NO SHOW", "ON", "C0D", "43 30 44"},
    {"Command22", "NO SHOW", "OFF", "C0E", "43 30 45"},
    {"Command25", "FREEZE", "ON", "C43", "43 34 33"},
    {"Command26", "FREEZE", "OFF", "C44", "43 34 34"},
    {"Command31", "AV Size", "Regular", "C0F", "43 30 46"},
    {"Command32", "AV Size", "Wide", "C10", "43 31 30"},
    {"Command13", nullptr, "A-IMAGE", "C89", "43 38 39"},
    {"Command30", nullptr, "IMAGE", "C27", "43 32 37"},
    {"Command14", nullptr, "P-TIMER", "C8A", "43 38 41"},
    {"Command3", nullptr, "DISPLAY CLEAR", "C1E", "43 31 45"},
    {"Command56", "LAMP SELECT", "2 LAMP", "C70", "43 37 30"},
    {"Command57", "LAMP SELECT", "Half 1", "C71", "43 37 31"},
    {"Command58", "LAMP SELECT", "Half 2", "C72", "43 37 32"},
    {"Command44", nullptr, "STATUS", "CR0", "43 52 30"},
    {"Command45", nullptr, "MODE", "CR1", "43 52 31"},
    {"Command46", nullptr, "L-TIME", "CR3", "43 52 33"},
    {"Command47", nullptr, "SETTING", "CR4", "43 52 34"},
    {"Command54", nullptr, "TEMP", "CR6", "43 52 36"},
    {"Command55", nullptr, "L-MODE", "CR7", "43 52 37"},
    {"Command38", nullptr, "PC type", "CR9", "43 52 39"},
    {"Command12", nullptr, "STATUS 2", "CRA", "43 52 41"},
}};

// The hold buttons, written out from the hold-button table; 0 for "not changed" intervals.
struct Hold {
    const char *control;
    const char *caption;
    int heldKey;
    const char *command;
    const char *commandHex;
    bool arrow;
    int repeatMs;
    int replyMs;
    int displayMs;
};
constexpr std::array<Hold, 17> kHolds{{
    {"Command1", "+", 1, "C09", "43 30 39", false, 250, 200, 245},
    {"Command2", "-", 2, "C0A", "43 30 41", false, 250, 200, 245},
    {"Command5", "↑", 3, "C3C", "43 33 43", true, 0, 0, 0},
    {"Command7", "↓", 4, "C3D", "43 33 44", true, 0, 0, 0},
    {"Command9", "←", 5, "C3B", "43 33 42", true, 0, 0, 0},
    {"Command8", "→", 6, "C3A", "43 33 41", true, 0, 0, 0},
    {"Command15", "+", 7, "C47", "43 34 37", false, 50, 25, 25},
    {"Command35", "-", 8, "C46", "43 34 36", false, 50, 25, 25},
    {"Command36", "+", 9, "C4B", "43 34 42", false, 50, 25, 25},
    {"Command37", "-", 10, "C4A", "43 34 41", false, 50, 25, 25},
    {"Command6", "SELECT", 13, "C3F", "43 33 46", false, 500, 200, 245},
    {"Command48", "+", 17, "C30", "43 33 30", false, 250, 200, 245},
    {"Command49", "-", 18, "C31", "43 33 31", false, 250, 200, 245},
    {"Command50", "+", 19, "C8E", "43 38 45", false, 250, 200, 245},
    {"Command51", "-", 20, "C8F", "43 38 46", false, 250, 200, 245},
    {"Command59", "↑", 21, "C5D", "43 35 44", false, 50, 25, 25},
    {"Command62", "↓", 22, "C5E", "43 35 45", false, 50, 25, 25},
}};

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

    Sending()
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
    for (const Address &address : kAddresses)
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
    for (const OneShot &button : kOneShots)
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
    QCOMPARE(kOneShotButtons.size(), kOneShots.size());
    for (std::size_t i = 0; i < kOneShots.size(); ++i)
        QCOMPARE(qb(kOneShotButtons[i].control), QByteArray(kOneShots[i].control));
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
    for (const Hold &button : kHolds)
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
    QCOMPARE(kHoldButtons.size(), kHolds.size());
    for (std::size_t i = 0; i < kHolds.size(); ++i)
        QCOMPARE(qb(kHoldButtons[i].control), QByteArray(kHolds[i].control));
}

void TestFrame::repeatTablePairsEveryCodeWithItsCommand()
{
    for (const Hold &button : kHolds) {
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
    for (const OneShot &button : kOneShots)
        commands.emplace_back(button.control, button.codeHex);
    for (const Hold &button : kHolds)
        commands.emplace_back(button.control, button.commandHex);
    QCOMPARE(commands.size(), std::size_t(47));
    for (const Address &address : kAddresses) {
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
