#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/panel/serialcontrol.h"

// What a serial control reported: every byte received, in order, and each loss of the line.
struct RecordingEvents : SerialControl::Events {
    std::string bytes;
    int receptions = 0;
    int losses = 0;
    int openings = 0;
    std::vector<SerialError> failures;

    void received(std::string_view bytes) override
    {
        this->bytes.append(bytes);
        ++receptions;
    }
    void lost() override { ++losses; }
    void opened() override { ++openings; }
    void openFailed(const SerialError &error) override { failures.push_back(error); }
};
