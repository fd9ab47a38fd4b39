// The command line of koru-panel.
#include <QDir>
#include <QTest>

#include "app/options.h"
#include "core/panel/portsettings.h"

class TestOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parses_data();
    void parses();
    void settingsFileUnderTheCommandLine_data();
    void settingsFileUnderTheCommandLine();
    void relativePathIsTakenFromTheCurrentDirectory();
    void helpListsEveryOption();
    void logTakesAFileAndIsOffWithoutIt();
    void qtsDisplayOptionsAreNotedAsQtReadsThem();
    void versionGivesTheFileVersionAndComment();
};

void TestOptions::parses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("com1");
    QTest::addColumn<QString>("com2");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QString>("error");
    const int run = int(Options::Action::Run);
    const int fail = int(Options::Action::Error);
    QTest::newRow("none: the designed ports") << QStringList{} << run << "/dev/ttyS0"
                                              << "/dev/ttyS1" << false << "";
    QTest::newRow("both mapped") << QStringList{"--com1", "/dev/ttyUSB0",
                                                "--com2=/dev/serial/by-id/usb-x-port0"}
                                 << run << "/dev/ttyUSB0"
                                 << "/dev/serial/by-id/usb-x-port0" << false << "";
    QTest::newRow("demo") << QStringList{"--demo"} << run << "/dev/ttyS0"
                          << "/dev/ttyS1" << true << "";
    QTest::newRow("help wins") << QStringList{"--com1", "/dev/x", "-h"}
                               << int(Options::Action::Help) << "/dev/x"
                               << "/dev/ttyS1" << false << "";
    QTest::newRow("version") << QStringList{"--version"} << int(Options::Action::Version)
                             << "/dev/ttyS0"
                             << "/dev/ttyS1" << false << "";
    QTest::newRow("unknown") << QStringList{"--baud", "9600"} << fail << "/dev/ttyS0"
                             << "/dev/ttyS1" << false << "unknown option '--baud'";
    QTest::newRow("path missing") << QStringList{"--com2"} << fail << "/dev/ttyS0"
                                  << "/dev/ttyS1" << false << "option '--com2' needs a device path";
    QTest::newRow("list ports") << QStringList{"--list-ports"} << int(Options::Action::ListPorts)
                                << "/dev/ttyS0"
                                << "/dev/ttyS1" << false << "";
    QTest::newRow("save ports") << QStringList{"--save-ports", "--com1", "rfc2217://10.0.0.5:4001"}
                                << int(Options::Action::SavePorts) << "rfc2217://10.0.0.5:4001"
                                << "/dev/ttyS1" << false << "";
    QTest::newRow("save nothing") << QStringList{"--save-ports"} << fail << ""
                                  << "" << false << "option '--save-ports' needs --com1 or --com2";
    QTest::newRow("empty path") << QStringList{"--com1="} << fail << "/dev/ttyS0"
                                << "/dev/ttyS1" << false << "option '--com1' needs a device path";
    QTest::newRow("a line break in a path")
        << QStringList{"--com2", "/dev/ttyUSB0\nx"} << fail << ""
        << "" << false << "option '--com2' takes a name with no control character in it";
    QTest::newRow("an option is no path") << QStringList{"--com1", "--demo"} << fail << ""
                                          << "" << false << "option '--com1' needs a device path";
    QTest::newRow("demo with a device")
        << QStringList{"--demo", "--com2", "/dev/x"} << fail << ""
        << "" << false << "--demo brings its own ports: it cannot be used with --com1 or --com2";
    QTest::newRow("-- ends the options") << QStringList{"--com1", "/dev/x", "--"} << run << "/dev/x"
                                         << "/dev/ttyS1" << false << "";
    QTest::newRow("no argument after --") << QStringList{"--", "--demo"} << fail << ""
                                          << "" << false << "unexpected argument '--demo'";
    QTest::newRow("save ports and list them")
        << QStringList{"--save-ports", "--list-ports", "--com1", "/dev/x"} << fail << ""
        << "" << false << "option '--list-ports' takes no other option";
    QTest::newRow("save ports with a log")
        << QStringList{"--save-ports", "--log", "f", "--com1", "/dev/x"} << fail << ""
        << "" << false << "option '--save-ports' takes only --com1 and --com2";
    QTest::newRow("Qt's own options")
        << QStringList{"-platform",     "offscreen", "--com1", "/dev/x",
                       "-style=fusion", "--display", ":1",     "-reverse"}
        << run << "/dev/x"
        << "/dev/ttyS1" << false << "";
}

void TestOptions::parses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, com1);
    QFETCH(QString, com2);
    QFETCH(bool, demo);
    QFETCH(QString, error);
    std::vector<std::string> argv{"koru-panel"};
    for (const QString &argument : arguments)
        argv.push_back(argument.toStdString());
    const Options options = Options::parse(argv);
    QCOMPARE(int(options.action), action);
    if (options.action == Options::Action::Error) {
        QCOMPARE(QString::fromStdString(options.error), error);
        return;
    }
    QCOMPARE(QString::fromStdString(options.devices.com1), com1);
    QCOMPARE(QString::fromStdString(options.devices.com2), com2);
    QCOMPARE(options.demo, demo);
}

void TestOptions::settingsFileUnderTheCommandLine_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("com1");
    QTest::addColumn<QString>("com2");
    QTest::addColumn<int>("problems");
    QTest::newRow("no file, no options") << "" << QStringList{} << "/dev/ttyS0"
                                         << "/dev/ttyS1" << 0;
    QTest::newRow("file") << "# mine\n com1 = /dev/ttyUSB0 \r\n\ncom2=tcp://h:4002\n"
                          << QStringList{} << "/dev/ttyUSB0"
                          << "tcp://h:4002" << 0;
    QTest::newRow("option over file") << "com1=/dev/ttyUSB0\ncom2=/dev/ttyUSB1"
                                      << QStringList{"--com2", "rfc2217://h:4001"} << "/dev/ttyUSB0"
                                      << "rfc2217://h:4001" << 0;
    QTest::newRow("mistakes told, rest kept")
        << "com3=/dev/x\ncom1\ncom2=\ncom1=/dev/ttyACM0" << QStringList{} << "/dev/ttyACM0"
        << "/dev/ttyS1" << 3;
    QTest::newRow("a NUL in a path refused")
        << QString::fromLatin1("com1=/dev/tty\0S9\ncom2=/dev/ttyUSB1", 34) << QStringList{}
        << "/dev/ttyS0"
        << "/dev/ttyUSB1" << 1;
}

void TestOptions::settingsFileUnderTheCommandLine()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QFETCH(QString, com1);
    QFETCH(QString, com2);
    QFETCH(int, problems);
    std::vector<std::string> argv{"koru-panel"};
    for (const QString &argument : arguments)
        argv.push_back(argument.toStdString());
    const PortSettings settings = PortSettings::parse(file.toStdString());
    const DeviceMap devices = Options::parse(argv).over(settings.devices);
    QCOMPARE(QString::fromStdString(devices.com1), com1);
    QCOMPARE(QString::fromStdString(devices.com2), com2);
    QCOMPARE(int(settings.problems.size()), problems);
    // What --save-ports writes reads back as the same mapping.
    const PortSettings saved = PortSettings::parse(PortSettings::format(devices));
    QVERIFY(saved.problems.empty());
    QCOMPARE(saved.devices.com1, devices.com1);
    QCOMPARE(saved.devices.com2, devices.com2);
    // Saved into the file it came from: the same mapping, and every line it does not own kept.
    const std::string updated = PortSettings::update(file.toStdString(), devices);
    const PortSettings reread = PortSettings::parse(updated);
    QCOMPARE(reread.devices.com1, devices.com1);
    QCOMPARE(reread.devices.com2, devices.com2);
    for (const QString &line : file.split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
        if (line.contains(QLatin1Char('=')) && (key == "com1" || key == "com2"))
            continue;
        QVERIFY2(updated.find(line.toStdString()) != std::string::npos, qPrintable(line));
    }
}

void TestOptions::relativePathIsTakenFromTheCurrentDirectory()
{
    const Options options = Options::parse({"koru-panel", "--com2=pts/3"});
    QCOMPARE(int(options.action), int(Options::Action::Run));
    QCOMPARE(QString::fromStdString(options.devices.com2), QDir::currentPath() + "/pts/3");
}

void TestOptions::helpListsEveryOption()
{
    const std::string text = usage();
    for (const char *option :
         {"--com1 PATH", "--com2 PATH", "--demo", "--log FILE", "--version", "--help",
          "--list-ports", "--save-ports", "rfc2217://HOST:PORT", "tcp://HOST:PORT",
          "accepter: telnet(rfc2217),tcp,", "connector: serialdev,"})
        QVERIFY2(text.find(option) != std::string::npos, option);
}

void TestOptions::logTakesAFileAndIsOffWithoutIt()
{
    QCOMPARE(Options::parse({"koru-panel"}).logPath, std::string());
    QCOMPARE(Options::parse({"koru-panel", "--log", "t.log"}).logPath, std::string("t.log"));
    QCOMPARE(Options::parse({"koru-panel", "--log"}).error,
             std::string("option '--log' needs a file"));
}

void TestOptions::qtsDisplayOptionsAreNotedAsQtReadsThem()
{
    // Whether the window will have a display depends on them: Qt reads "-platform NAME" and
    // "--platform NAME", and no "=" form.
    QCOMPARE(Options::parse({"koru-panel", "-platform", "offscreen"}).qtPlatform, "offscreen");
    QCOMPARE(Options::parse({"koru-panel", "--platform", "offscreen"}).qtPlatform, "offscreen");
    QCOMPARE(Options::parse({"koru-panel", "-platform=offscreen"}).qtPlatform, "");
    QVERIFY(Options::parse({"koru-panel", "--display", ":1"}).qtDisplay);
    QVERIFY(!Options::parse({"koru-panel", "-geometry", "10x10"}).qtDisplay);
}

void TestOptions::versionGivesTheFileVersionAndComment()
{
    const std::string text = versionText();
    QVERIFY(text.find("File version 1.03.0001") != std::string::npos);
    QVERIFY(text.find("Product version 1.03.0001") != std::string::npos);
    QVERIFY(text.find("Ver.1.31") != std::string::npos);
}

QTEST_APPLESS_MAIN(TestOptions)
#include "tst_options.moc"
