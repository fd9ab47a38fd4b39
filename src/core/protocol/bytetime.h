#pragma once

#include <cstdint>

// The time one character takes on a line at baud bits a second: a start bit, the data bits,
// a parity bit if any, and the stop bits. The projector's line is 8N1, ten bits a character.
constexpr std::int64_t byteTimeNs(int baud, int dataBits = 8, bool parity = false, int stopBits = 1)
{
    const int bits = 1 + dataBits + (parity ? 1 : 0) + stopBits;
    return 1'000'000'000LL * bits / baud;
}
