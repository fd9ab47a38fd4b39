#include <QApplication>
#include <cstdio>
#include <iostream>
#include <memory>

#include "app/demo.h"
#include "app/options.h"
#include "app/version.h"
#include "core/panel/loggingserialcontrol.h"
#include "qt/qtclock.h"
#include "qt/qtmessagebox.h"
#include "qt/qtserialcontrol.h"
#include "qt/trafficlogfile.h"
#include "widgets/form1.h"

int main(int argc, char *argv[])
{
    const Options options = Options::parse(std::vector<std::string>(argv, argv + argc));
    switch (options.action) {
    case Options::Action::Help:
        std::cout << usage();
        return 0;
    case Options::Action::Version:
        std::cout << versionText();
        return 0;
    case Options::Action::Error:
        std::cerr << "koru-panel: " << options.error << "\n\n" << usage();
        return 2;
    case Options::Action::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("koru-panel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kFileVersion));

    DeviceMap devices = options.devices;
    QString demoDescription;
    if (options.demo) {
        const Demo demo = Demo::start(&app);
        if (!demo.error.isEmpty()) {
            std::cerr << "koru-panel: cannot start the demo: " << demo.error.toStdString() << "\n";
            return 1;
        }
        devices = demo.devices;
        demoDescription = demo.description;
        std::cerr << "koru-panel: " << demoDescription.toStdString() << "\n";
    }

    QtClock clock;
    QtSerialControl serial(devices, clock);
    // The log looks on from between the panel and the line; without it nothing is in between.
    std::unique_ptr<TrafficLogFile> log;
    std::unique_ptr<LoggingSerialControl> logging;
    SerialControl *comm = &serial;
    if (!options.logPath.empty()) {
        log = std::make_unique<TrafficLogFile>(QString::fromLocal8Bit(options.logPath));
        logging = std::make_unique<LoggingSerialControl>(serial, devices, *log);
        comm = logging.get();
    }
    QtMessageBox messages;
    Form1 form(clock, *comm, messages);
    messages.setParent(&form);
    if (!form.Form_Load())
        return 1;
    // The caption stays as it is; the COM button tells what the ports stand for.
    if (!demoDescription.isEmpty())
        form.control("Command33")->setToolTip(demoDescription);
    form.show();
    return QApplication::exec();
}
