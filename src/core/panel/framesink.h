#pragma once

#include <string>

// Where the send step puts a framed command: the traffic monitor, which writes it to the line
// and shows it.
class FrameSink {
public:
    virtual void sendFrame(const std::string &frame) = 0;

protected:
    ~FrameSink() = default;
};
