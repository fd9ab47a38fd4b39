#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken property ends the run with a message; libFuzzer then keeps the input that broke it.
#define KORU_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

// What the displays may hold: the panel only ever shows space to "~".
inline bool isPrintableAscii(std::string_view text)
{
    for (const char c : text) {
        if (c < ' ' || c > '~')
            return false;
    }
    return true;
}
