// The client's Telnet/RFC 2217 codec on whatever a server may send, split anywhere.
//
// Properties: the first byte of the input picks a split point, and feeding the rest in two
// pieces gives the same line bytes, the same answers, the same agreement and the same output as
// feeding it whole; the line bytes are never more than the wire bytes; what the codec sends back
// stays within its bound however long the server goes on; and line bytes escaped for the wire
// come back exactly, with nothing sent in reply.

#include "core/rfc2217/rfc2217codec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"

namespace {

struct Outcome {
    std::string line;
    std::string output;
    std::string answers;
    Rfc2217Codec::Agreement agreement;
};

Outcome run(std::string_view first, std::string_view second)
{
    Rfc2217Codec codec;
    Outcome outcome;
    for (std::string_view piece : {first, second}) {
        outcome.line += codec.feed(piece);
        for (const auto &answer : codec.answers())
            outcome.answers += std::to_string(answer.command) + ":" + std::to_string(answer.value) +
                               (answer.malformed ? "!" : "") + ",";
        codec.answers().clear();
    }
    outcome.output = codec.output();
    outcome.agreement = codec.comPort();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string_view wire(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::size_t split = data[0] % (wire.size() + 1);

    const Outcome whole = run(wire, {});
    const Outcome pieces = run(wire.substr(0, split), wire.substr(split));
    KORU_CHECK(whole.line == pieces.line);
    KORU_CHECK(whole.output == pieces.output);
    KORU_CHECK(whole.answers == pieces.answers);
    KORU_CHECK(whole.agreement == pieces.agreement);
    KORU_CHECK(whole.line.size() <= wire.size());
    // IAC WILL COM-PORT-OPTION, then at most two 3-byte replies per option and direction.
    KORU_CHECK(whole.output.size() <= 3 + 256 * 2 * 2 * 3);

    Rfc2217Codec codec;
    const std::string opening = codec.output();
    KORU_CHECK(codec.feed(Rfc2217Codec::escape(wire)) == wire);
    KORU_CHECK(codec.output() == opening && codec.answers().empty());
    return 0;
}
