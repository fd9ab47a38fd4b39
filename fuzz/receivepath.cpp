// The receive path end to end: the real TrafficMonitor, CommandSender and HoldEngine on a
// virtual clock with the panel's four interval timers, the tests' fake serial control and
// displays that check every text they are given. The input is a script of steps, each an
// operation byte and its operands:
//
//   0, 1  receive: length L, then L bytes, delivered as one receive event
//   2     flood: length L, count N, then L bytes, delivered N times over in one receive event
//         (up to 65,025 characters, to pass the buffer's bound)
//   3     click one-shot button (index byte)
//   4     choose a PJ Select address (index byte)
//   5     let time pass: byte * 4 ms
//   6     press the hold button (index byte), or release the one held
//   7     a serial event other than a receive (event byte)
//   8     open or close the port
//
// Properties after every step: rxBuffer holds at most kMaxRenderedChars characters, the
// displays only ever hold printable ASCII, awaitingReply is 0 or 1; after a receive event the
// RXD display, which a receive event mostly adds to, is the rendering of all of rxBuffer made
// afresh, awaitingReply is 0, and the status display holds what decoding that rendering gives,
// or what it held before.
//
// An input ends once it has done enough that more of the same finds nothing new, so that no
// input runs for long:
// - after kMaxReceiveEvents receive events, or once the buffer's sizes over its receive events
//   pass kMaxShownChars, since the check after every receive event renders all of rxBuffer
//   afresh (128 events on a full buffer took a third of a second);
// - after kMaxSends frames sent, open port or not, which lets a 5 ms repeat run to the hold's
//   last-resort stop (without it, a hold pressed again and again took half a second).
// Inputs like those came to fill the working corpus and slowed a campaign to a fifth of its
// first rate.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "core/panel/commandsender.h"
#include "core/panel/holdengine.h"
#include "core/panel/intervaltimer.h"
#include "core/panel/paneldisplays.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"
#include "support/corepanel.h"
#include "support/fakeserialcontrol.h"
#include "support/recordingmessagebox.h"
#include "support/virtualclock.h"

namespace {

constexpr int kMaxReceiveEvents = 128;
constexpr std::size_t kMaxShownChars = 4 * kMaxRenderedChars;
constexpr std::size_t kMaxSends = 16384;

class CheckingDisplays : public PanelDisplays {
public:
    std::string txd;
    std::string rxd;
    std::string status;
    bool frame8Visible = false;
    std::size_t txdChanges = 0;  // every send shows its frame

    void setTxd(std::string_view text) override
    {
        txd = checked(text);
        ++txdChanges;
    }
    void setRxd(std::string_view text) override { rxd = checked(text); }
    void appendRxd(std::string_view more) override { rxd += checked(more); }
    void setStatus(std::string_view text) override { status = checked(text); }
    void setFrame8Visible(bool visible) override { frame8Visible = visible; }
    void setTxdToolTip(std::string_view text) override { checked(text); }

private:
    static std::string_view checked(std::string_view text)
    {
        KORU_CHECK(isPrintableAscii(text));
        return text;
    }
};

// The serial half of the panel with the design intervals, wired as the panel wires it.
struct Panel : CorePanel<CheckingDisplays> {
    const HoldButton *held = nullptr;

    void checkState() const
    {
        KORU_CHECK(monitor.rxBuffer().size() <= kMaxRenderedChars);
        KORU_CHECK(monitor.awaitingReply() == 0 || monitor.awaitingReply() == 1);
    }

    // One receive event, and what it must leave behind.
    void receive(const std::string &bytes)
    {
        // A serial control reports at least one byte.
        if (bytes.empty())
            return;
        ++receiveEvents;
        const std::string statusBefore = displays.status;
        comm.receive(bytes);
        checkState();
        KORU_CHECK(monitor.awaitingReply() == 0);
        KORU_CHECK(displays.rxd == renderTraffic(monitor.rxBuffer()));
        const auto decoded = decodeStatus(displays.rxd, sender.lastCommand(), sender.idPrefix());
        KORU_CHECK(displays.status == decoded.value_or(statusBefore));
        shownChars += monitor.rxBuffer().size();
    }

    bool doneEnough() const
    {
        return receiveEvents >= kMaxReceiveEvents || shownChars > kMaxShownChars ||
               displays.txdChanges >= kMaxSends;
    }

    int receiveEvents = 0;
    std::size_t shownChars = 0;
};

class Script {
public:
    Script(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_at >= m_size; }
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string bytes(std::size_t count)
    {
        const std::size_t n = count < m_size - m_at ? count : m_size - m_at;
        std::string text(reinterpret_cast<const char *>(m_data + m_at), n);
        m_at += n;
        return text;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Panel panel;
    Script script(data, size);
    while (!script.done() && !panel.doneEnough()) {
        switch (script.byte() % 9) {
        case 0:
        case 1:
            panel.receive(script.bytes(script.byte()));
            break;
        case 2: {
            const std::size_t length = script.byte();
            const int count = script.byte();
            const std::string chunk = script.bytes(length);
            std::string bytes;
            for (int i = 0; i < count; ++i)
                bytes += chunk;
            panel.receive(bytes);
            break;
        }
        case 3:
            panel.core.click(kOneShotButtons[script.byte() % kOneShotButtons.size()]);
            break;
        case 4:
            panel.core.selectAddress(kAddressOptions[script.byte() % kAddressOptions.size()]);
            break;
        case 5:
            panel.clock.advance(std::int64_t{4} * script.byte());
            break;
        case 6:
            if (panel.held) {
                panel.core.release(*panel.held);
                panel.held = nullptr;
            } else {
                panel.held = &kHoldButtons[script.byte() % kHoldButtons.size()];
                panel.core.press(*panel.held);
            }
            break;
        case 7:
            panel.comm.loseLine();
            break;
        case 8:
            if (panel.comm.portOpen())
                panel.comm.closePort();
            else
                panel.comm.openPort();
            break;
        }
        panel.checkState();
        KORU_CHECK(isPrintableAscii(panel.displays.txd) && isPrintableAscii(panel.displays.rxd) &&
                   isPrintableAscii(panel.displays.status));
    }
    // Every send starts the display time-out, and nothing but a send fills the TXD display: with
    // no button held, it is blank once the time-outs have run out.
    if (!panel.held) {
        panel.clock.advance(2000);
        KORU_CHECK(panel.displays.txd.empty());
    }
    return 0;
}
