#include <QApplication>
#include <cstdio>
#include <iostream>

#include "options.h"
#include "panel/form1.h"
#include "platform/qtclock.h"
#include "platform/qtmessagebox.h"
#include "serial/qtserialcontrol.h"

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
    QApplication::setApplicationVersion(QStringLiteral("1.03.0001"));

    QtClock clock;
    QtSerialControl comm(options.devices);
    QtMessageBox messages;
    Form1 form(clock, comm, messages);
    messages.setParent(&form);
    if (!form.Form_Load())
        return 1;
    form.show();
    return QApplication::exec();
}
