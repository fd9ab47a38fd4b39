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

const AddressOption *findAddressOption(std::string_view idPrefix)
{
    for (const AddressOption &option : kAddressOptions) {
        if (option.idPrefix == idPrefix)
            return &option;
    }
    return nullptr;
}

std::vector<int> addressedProjectors(std::string_view idPrefix, int lineLength)
{
    std::vector<int> projectors;
    const AddressOption *option = findAddressOption(idPrefix);
    if (!option)
        return projectors;
    for (int projector = 1; projector <= lineLength; ++projector) {
        if (option->projector == 0 || option->projector == projector)
            projectors.push_back(projector);
    }
    return projectors;
}
