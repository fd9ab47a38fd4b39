#pragma once

#include <string>
#include <vector>

// A PJLink input ("11" RGB1, "21" VIDEO1, "31" DIGITAL1, ...) and the projector's input, 1 to 3,
// that it selects.
struct PjlinkInput {
    std::string pjlink;
    int projector = 1;
};

// What one projector answers as a PJLink device, beside what it reports on its line.
struct PjlinkProjector {
    std::string idPrefix;  // before every frame: "" for a single projector, "A001".."A004"
    std::string password;  // empty: no authentication
    std::string name;
    std::string inf1;
    std::string inf2;
    std::string info;
    // In the order INST lists them; several may select the same projector input.
    std::vector<PjlinkInput> inputs;
};
