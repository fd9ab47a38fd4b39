#include "core/panel/panelcore.h"

#include "core/panel/serialcontrol.h"

PanelCore::PanelCore(Clock &clock, SerialControl &comm, PanelDisplays &displays,
                     MessageBox &messages, std::string appTitle)
    : Timer1(clock, 200),
      Timer2(clock, 500),
      Timer3(clock, 5000),
      Timer4(clock, 1000),
      MSComm1(comm),
      traffic(*this, comm, displays, Timer2, Timer3, Timer4),
      ports(*this, comm, displays, messages, std::move(appTitle)),
      commands(*this, Timer1,
               [this](const std::string &text, unsigned char mode) { traffic.Hyouji(text, mode); }),
      holds(*this, commands, Timer1, Timer2, Timer4)
{
    Timer1.setOnTick([this] { holds.Timer1_Timer(); });
    Timer2.setOnTick([this] { traffic.Timer2_Timer(); });
    Timer3.setOnTick([this] { traffic.Timer3_Timer(); });
    Timer4.setOnTick([this] { traffic.Timer4_Timer(); });
    MSComm1.setOnComm([this] { traffic.MSComm1_OnComm(); });
    holds.setClearTraffic([&displays] {
        displays.setTxd("");
        displays.setRxd("");
    });
}

PanelCore::~PanelCore()
{
    MSComm1.setOnComm({});
}

void PanelCore::stopEverything()
{
    Timer1.setEnabled(false);
    Timer2.setEnabled(false);
    Timer3.setEnabled(false);
    Timer4.setEnabled(false);
    MSComm1.setOnComm({});
}
