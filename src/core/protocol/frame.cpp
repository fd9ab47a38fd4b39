#include "core/protocol/frame.h"

std::string buildFrame(std::string_view idPrefix, std::string_view code)
{
    std::string frame;
    frame.reserve(idPrefix.size() + code.size() + 1);
    frame.append(idPrefix);
    frame.append(code);
    frame.push_back('\r');
    return frame;
}
