#pragma once

#include <string>

#include "core/panel/intervaltimer.h"
#include "core/panel/commandsender.h"
#include "core/panel/holdengine.h"
#include "core/panel/panelstate.h"
#include "core/panel/paneldisplays.h"
#include "core/panel/portconfiguration.h"
#include "core/panel/trafficmonitor.h"

class Clock;
class MessageBox;
class SerialControl;

// The panel without its widgets: the shared state, the four timers, the traffic monitor, the
// port options, the send step and the hold engine, wired to each other as the panel runs
// them. The window adds the controls; tests and fuzzers drive this alone.
class PanelCore : public PanelState {
public:
    PanelCore(Clock &clock, SerialControl &comm, PanelDisplays &displays, MessageBox &messages,
              std::string appTitle);
    ~PanelCore();
    PanelCore(const PanelCore &) = delete;
    PanelCore &operator=(const PanelCore &) = delete;

    // Nothing runs any more: no tick and no serial event.
    void stopEverything();

    IntervalTimer Timer1;
    IntervalTimer Timer2;
    IntervalTimer Timer3;
    IntervalTimer Timer4;
    SerialControl &MSComm1;

    TrafficMonitor traffic;
    PortConfiguration ports;
    CommandSender commands;
    HoldEngine holds;
};
