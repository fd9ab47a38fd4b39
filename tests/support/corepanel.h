#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "core/panel/panelcore.h"
#include "support/fakeserialcontrol.h"
#include "support/goldentables.h"
#include "support/recordingmessagebox.h"
#include "support/virtualclock.h"

// The panel's logic on a virtual clock and a fake line, wired as the program wires it, with
// short names for the parts a test drives. Displays is the displays' recorder or checker. The
// port is open from the start unless the test starts from a closed one.
template <typename Displays>
struct CorePanel {
    enum class Port { Closed, Open };

    explicit CorePanel(Port port = Port::Open)
    {
        if (port == Port::Open)
            comm.openPort();
    }

    VirtualClock clock;
    FakeSerialControl comm;
    Displays displays = displaysOn(clock);
    RecordingMessageBox messages;
    PanelCore core{clock, comm, displays, messages, "koru-panel"};
    // What each part owns, read-only: the tests drive the panel through core.
    const CommandSender &sender = core.commands();
    const TrafficMonitor &monitor = core.traffic();
    const HoldEngine &engine = core.holds();
    const PortConfiguration &ports = core.ports();
    const IntervalTimer &timer1 = engine.repeatTimer();
    const IntervalTimer &timer2 = monitor.replyTimeout();
    const IntervalTimer &timer3 = core.settingsFrame().timeout();
    const IntervalTimer &timer4 = monitor.displayTimeout();

    // The operator's actions on a control, by its name ("Command17") or caption ("003").
    void click(std::string_view control) { core.click(oneShot(control)); }
    void press(std::string_view control) { core.press(hold(control)); }
    void release(std::string_view control) { core.release(hold(control)); }
    void select(std::string_view caption)
    {
        for (const AddressOption &option : kAddressOptions) {
            if (option.caption == caption)
                core.selectAddress(option);
        }
    }
    void at(std::int64_t time) { clock.advanceTo(time); }

    // Selects the PJ Select option whose prefix this is.
    void selectPrefix(std::string_view prefix)
    {
        const AddressOption *option = findAddressOption(prefix);
        if (!option)
            throw std::invalid_argument("no PJ Select option has this prefix");
        core.selectAddress(*option);
    }

    // Displays that stamp their changes with the virtual time when they can.
    static Displays displaysOn(const VirtualClock &clock)
    {
        if constexpr (std::is_constructible_v<Displays, const VirtualClock *>)
            return Displays(&clock);
        else
            return Displays();
    }
};
