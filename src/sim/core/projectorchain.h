#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/framereader.h"
#include "sim/core/projectormodel.h"

// Who took a frame and what the line carries back.
struct ChainAnswer {
    std::vector<int> takenBy;  // addresses, in order
    int answeredBy = 0;        // 0 when nobody answers
    std::string reply;
};

// One to four projectors sharing one line, at addresses 1 to N. A frame addressed "A00n" is
// taken and answered by projector n alone, and by nobody when there is no projector n. A frame
// addressed "AFFF" and a frame without a prefix are taken by every projector, but only
// projector 1 answers, so that replies never collide on the shared line.
class ProjectorChain {
public:
    static constexpr int kMaxLength = 4;

    // The settings apply to every projector; each gets its own address.
    explicit ProjectorChain(int length, const ProjectorSettings &settings = {});

    int length() const { return static_cast<int>(m_projectors.size()); }
    ProjectorModel &projector(int address) { return m_projectors.at(address - 1); }
    const ProjectorModel &projector(int address) const { return m_projectors.at(address - 1); }

    ChainAnswer take(const SimFrame &frame, std::int64_t nowMs);
    void advanceTo(std::int64_t nowMs);

    // The addresses that take a frame with this prefix.
    std::vector<int> takers(std::string_view prefix) const;

private:
    std::vector<ProjectorModel> m_projectors;
};
