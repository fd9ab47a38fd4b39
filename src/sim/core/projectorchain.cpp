#include "sim/core/projectorchain.h"

#include <algorithm>

#include "core/protocol/frame.h"

ProjectorChain::ProjectorChain(int length, const ProjectorSettings &settings)
{
    length = std::clamp(length, 1, kMaxLength);
    m_projectors.reserve(length);
    for (int address = 1; address <= length; ++address) {
        ProjectorSettings own = settings;
        own.address = address;
        m_projectors.emplace_back(std::move(own));
    }
}

std::vector<int> ProjectorChain::takers(std::string_view prefix) const
{
    return addressedProjectors(prefix, length());
}

ChainAnswer ProjectorChain::take(const SimFrame &frame, std::int64_t nowMs)
{
    ChainAnswer answer;
    answer.takenBy = takers(frame.prefix);
    for (const int address : answer.takenBy) {
        std::string reply = projector(address).take(frame.code, nowMs);
        // The first taker answers: projector 1 for a frame to all, the addressee otherwise.
        if (answer.answeredBy == 0) {
            answer.answeredBy = address;
            answer.reply = std::move(reply);
        }
    }
    advanceTo(nowMs);
    return answer;
}

void ProjectorChain::advanceTo(std::int64_t nowMs)
{
    for (ProjectorModel &model : m_projectors)
        model.advanceTo(nowMs);
}
