#pragma once

#include "core/panel/intervaltimer.h"

class Clock;
class PanelDisplays;

// The COM settings frame (Frame8): the port and speed choices, shown for a while and then
// hidden by its own time-out (Timer3), unless a choice hides it first.
class ComSettingsFrame {
public:
    static constexpr int kTimeoutMs = 5000;

    ComSettingsFrame(Clock &clock, PanelDisplays &displays);

    // Shows the frame and starts its time-out; one already running runs on.
    void show();
    void hide();
    // Starts the time-out afresh, whether or not the frame shows.
    void restartTimeout();
    void Timer3_Timer();
    // Nothing runs any more.
    void stop() { m_timeout.setEnabled(false); }

    const IntervalTimer &timeout() const { return m_timeout; }

private:
    PanelDisplays &m_displays;
    IntervalTimer m_timeout;  // Timer3
};
