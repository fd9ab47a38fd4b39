// A PJLink session fed a client's bytes, on virtual time, against a projector that answers
// every frame. The first byte chooses a password (bit 0) and how the rest is cut: each byte
// 0xfe in the rest ends a piece, and between pieces the clock moves on by the next byte's
// value times 100 ms, so that replies, time-outs and the idle close come between pieces.
//
// Properties: the greeting comes first and once; everything after it is a whole PJLink reply
// ("%", the class and the four characters of the command it answers, "=", printable text, CR) or
// PJLINK ERRA just before the close; a session with a password answers no command before a digest;
// no more replies than the client sent lines; nothing is written after the close; a closed
// session's requests never reach the line.

#include "core/pjlink/pjlinksession.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "core/pjlink/transactionqueue.h"
#include "support/fakeserialcontrol.h"
#include "support/virtualclock.h"

namespace {

constexpr std::string_view kDigest = "0123456789abcdef0123456789abcdef";

std::string reply(std::string_view frame)
{
    const std::string_view code = frame.substr(0, frame.size() - 1);
    if (code == "CR0")
        return "00\r";
    if (code == "CR1")
        return "2\r";
    if (code == "CR3")
        return "01234\r";
    if (code == "CR7")
        return "03\r";
    if (code == "CRA")
        return "01\r";
    return "\x06\r";
}

bool wholeReply(std::string_view line)
{
    if (line.size() < 8 || line[0] != '%' || line[6] != '=')
        return false;
    for (std::size_t i = 1; i < 6; ++i) {
        if (line[i] <= ' ' || line[i] > '~')
            return false;
    }
    return isPrintableAscii(line.substr(7, line.size() - 8)) && line.back() == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool withPassword = data[0] & 1;
    std::string_view input(reinterpret_cast<const char *>(data) + 1, size - 1);

    VirtualClock clock;
    FakeSerialControl port;
    port.openPort();
    std::string due;
    port.onOutput = [&](std::string_view frame) { due = reply(frame); };
    LineTransactions line(port, clock, 500);
    TransactionQueue queue(&line);
    PjlinkProjector projector{"", withPassword ? "secret" : "", "Hall", "", "", "", {{"11", 1}}};
    const PjlinkAuthentication authentication{
        [] { return 0x12345678u; }, [](std::string_view) { return std::string(kDigest); }};
    std::string out;
    bool closed = false;
    std::size_t writtenAtClose = 0;
    PjlinkSession session(projector, queue, clock, authentication,
                          {[&](std::string_view bytes) {
                               KORU_CHECK(!closed);
                               out.append(bytes);
                           },
                           [&] {
                               closed = true;
                               writtenAtClose = port.written.size();
                           }});
    session.start();
    std::size_t lines = 0;
    std::string sent;  // every piece, as the session got them
    while (!input.empty()) {
        const std::size_t cut = input.find('\xfe');
        const std::string_view piece = input.substr(0, cut);
        for (const char c : piece)
            lines += c == '\r';
        session.received(piece);
        sent.append(piece);
        input.remove_prefix(cut == std::string_view::npos ? input.size() : cut + 1);
        const int waitMs = input.empty() ? 0 : static_cast<unsigned char>(input.front()) * 100;
        if (!input.empty())
            input.remove_prefix(1);
        for (int ms = 0; ms < waitMs + 2000; ms += 10) {
            if (!due.empty()) {
                const std::string bytes = std::move(due);
                due.clear();
                port.receive(bytes);
            }
            clock.advance(10);
        }
    }

    const std::string greeting = withPassword ? "PJLINK 1 12345678\r" : "PJLINK 0\r";
    KORU_CHECK(out.starts_with(greeting));
    std::string_view rest = std::string_view(out).substr(greeting.size());
    std::size_t replies = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\r');
        KORU_CHECK(end != std::string_view::npos);
        const std::string_view reply = rest.substr(0, end + 1);
        rest.remove_prefix(end + 1);
        if (reply == "PJLINK ERRA\r") {
            KORU_CHECK(withPassword && closed && rest.empty());
            continue;
        }
        KORU_CHECK(wholeReply(reply));
        ++replies;
    }
    KORU_CHECK(replies <= lines);
    if (withPassword && replies > 0)
        KORU_CHECK(sent.find(kDigest) != std::string::npos);
    if (closed)
        KORU_CHECK(port.written.size() == writtenAtClose);
    return 0;
}
