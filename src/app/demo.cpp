#include "app/demo.h"

#include "sim/qt/projectorsimulator.h"

Demo Demo::start(QObject *parent)
{
    Demo demo;
    auto *chain = new ProjectorSimulator(SimulatorOptions{.chainLength = 4}, parent);
    auto *single = new ProjectorSimulator(SimulatorOptions{.chainLength = 1}, parent);
    if (!chain->openPty()) {
        demo.error = chain->errorString();
        return demo;
    }
    if (!single->openPty()) {
        demo.error = single->errorString();
        return demo;
    }
    demo.devices.com1 = chain->slavePath().toStdString();
    demo.devices.com2 = single->slavePath().toStdString();
    demo.description = QStringLiteral(
                           "Demo: COM1 is a chain of four simulated projectors (001 to 004) on %1; "
                           "COM2 is a single simulated projector on %2.")
                           .arg(chain->slavePath(), single->slavePath());
    return demo;
}
