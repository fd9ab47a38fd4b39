#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "app/demo.h"
#include "app/endsignals.h"
#include "app/options.h"
#include "app/usageerror.h"
#include "app/version.h"
#include "qt/portsettingsfile.h"
#include "qt/programline.h"
#include "qt/qtclock.h"
#include "qt/qtmessagebox.h"
#include "qt/serialdevices.h"
#include "widgets/form1.h"

namespace {

// True when the window would have no display to go to: the platform Qt would choose is X11 or
// Wayland, and neither DISPLAY nor WAYLAND_DISPLAY (nor -display) says where one is. Qt would
// then abort with advice to reinstall the program.
bool noDisplay(const Options &options)
{
    std::string platform = options.qtPlatform;
    if (const char *chosen = std::getenv("QT_QPA_PLATFORM"); chosen && platform.empty())
        platform = chosen;
    if (options.qtDisplay)
        return false;
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    if (platform.empty())
        return !set("DISPLAY") && !set("WAYLAND_DISPLAY");
    return platform.starts_with("xcb") && !set("DISPLAY");
}

}  // namespace

int main(int argc, char *argv[])
{
    // Qt's own options (-platform, -display, ...) are passed over here and taken by
    // QApplication below.
    const Options options = Options::parse(std::vector<std::string>(argv, argv + argc));
    switch (options.action) {
    case Options::Action::Help:
        std::cout << usage();
        return 0;
    case Options::Action::Version:
        std::cout << versionText();
        return 0;
    case Options::Action::Error:
        std::cerr << usageError("koru-panel", options.error);
        return 2;
    case Options::Action::ListPorts:
        for (const std::string &device : listSerialDevices())
            std::cout << device << "\n";
        return 0;
    case Options::Action::Run:
    case Options::Action::SavePorts:
        break;
    }

    const DeviceMap settings = loadPortSettingsWarning("koru-panel");
    if (options.action == Options::Action::SavePorts) {
        const DeviceMap saved = options.over(settings);
        const std::string path = portSettingsPath();
        if (const auto error = savePortSettings(saved, path)) {
            std::cerr << "koru-panel: cannot save the ports to " << path << ": " << *error << "\n";
            return 1;
        }
        std::cout << "koru-panel: COM1 is " << saved.com1 << ", COM2 is " << saved.com2
                  << "; saved in " << path << "\n";
        return 0;
    }

    if (noDisplay(options)) {
        std::cerr << "koru-panel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set): "
                     "start it in a desktop session or over ssh -X, or on a virtual display "
                     "(xvfb-run koru-panel)\n";
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("koru-panel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kFileVersion));

    DeviceMap devices = options.over(settings);
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
    ProgramLine line(devices, clock, options.logPath);
    SerialControl *comm = &line.control();
    QtMessageBox messages;
    Form1 form(clock, *comm, messages);
    messages.setParent(&form);
    // A signal to end runs the END button's steps, so the port is let go of as on END. Watched
    // before the port is opened: a signal that comes while it opens is handled once the event
    // loop runs, instead of ending the program with the port held.
    if (!watchEndSignals(&form, [&form](int) { form.Command16_Click(); })) {
        std::perror("koru-panel: cannot watch for signals");
        return 1;
    }
    if (!form.Form_Load())
        return 1;
    // The caption stays as it is; the COM button tells what the ports stand for.
    if (!demoDescription.isEmpty())
        form.control("Command33")->setToolTip(demoDescription);
    form.show();
    return QApplication::exec();
}
