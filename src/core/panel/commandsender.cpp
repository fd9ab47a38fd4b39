#include "core/panel/commandsender.h"

#include <utility>

CommandSender::CommandSender(HandOn handOn) : m_handOn(std::move(handOn)) {}

void CommandSender::sendCommand(std::string_view code)
{
    m_lastCommand = buildFrame(m_idPrefix, code);
    m_handOn(m_lastCommand);
}

void CommandSender::selectAddress(const AddressOption &option)
{
    m_idPrefix = std::string(option.idPrefix);
}
