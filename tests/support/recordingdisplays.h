#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/panel/paneldisplays.h"
#include "support/virtualclock.h"

// The TXD, RXD and status displays and the COM settings frame, as plain values, with every
// change kept in order (and stamped with the virtual time when a clock is given).
class RecordingDisplays : public PanelDisplays {
public:
    enum class Target { Txd, Rxd, Status, Frame8 };
    struct Change {
        std::int64_t at;  // clock time of the change, 0 without a clock
        Target target;
        std::string text;  // the new text; "shown" or "hidden" for Frame8
    };

    explicit RecordingDisplays(const VirtualClock *clock = nullptr) : m_clock(clock) {}

    std::string txd;             // Label11
    std::string rxd;             // Label12
    std::string status;          // Label22
    bool frame8Visible = false;  // Frame8 starts hidden
    std::string txdToolTip;
    std::vector<Change> history;

    void setTxd(std::string_view text) override { record(Target::Txd, txd = text); }
    void setRxd(std::string_view text) override { record(Target::Rxd, rxd = text); }
    void appendRxd(std::string_view more) override { record(Target::Rxd, rxd += more); }
    void setStatus(std::string_view text) override { record(Target::Status, status = text); }
    void setFrame8Visible(bool visible) override
    {
        frame8Visible = visible;
        record(Target::Frame8, visible ? "shown" : "hidden");
    }

    void setTxdToolTip(std::string_view text) override { txdToolTip = text; }

    // The changes made to one display, oldest first.
    std::vector<Change> changesOf(Target target) const
    {
        std::vector<Change> changes;
        for (const Change &change : history) {
            if (change.target == target)
                changes.push_back(change);
        }
        return changes;
    }

private:
    void record(Target target, std::string text)
    {
        history.push_back({m_clock ? m_clock->nowMs() : 0, target, std::move(text)});
    }

    const VirtualClock *m_clock;
};
