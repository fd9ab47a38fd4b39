#pragma once

#include <type_traits>

#include "support/fakeserialcontrol.h"
#include "core/panel/panelcore.h"
#include "support/virtualclock.h"
#include "support/recordingmessagebox.h"

// The panel's logic on a virtual clock and a fake line, wired as the program wires it, with
// short names for the parts a test drives. Displays is the displays' recorder or checker.
template <typename Displays>
struct CorePanel {
    VirtualClock clock;
    FakeSerialControl comm;
    Displays displays = displaysOn(clock);
    RecordingMessageBox messages;
    PanelCore core{clock, comm, displays, messages, "koru-panel"};
    PanelState &state = core;
    IntervalTimer &timer1 = core.Timer1;
    IntervalTimer &timer2 = core.Timer2;
    IntervalTimer &timer3 = core.Timer3;
    IntervalTimer &timer4 = core.Timer4;
    TrafficMonitor &monitor = core.traffic;
    CommandSender &sender = core.commands;
    HoldEngine &engine = core.holds;

    // Displays that stamp their changes with the virtual time when they can.
    static Displays displaysOn(const VirtualClock &clock)
    {
        if constexpr (std::is_constructible_v<Displays, const VirtualClock *>)
            return Displays(&clock);
        else
            return Displays();
    }
};
