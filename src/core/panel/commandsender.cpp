#include "core/panel/commandsender.h"

#include "core/panel/framesink.h"

CommandSender::CommandSender(FrameSink &sink) : m_sink(sink) {}

void CommandSender::sendCommand(std::string_view code)
{
    m_lastCommand = buildFrame(m_idPrefix, code);
    m_sink.sendFrame(m_lastCommand);
}

void CommandSender::selectAddress(const AddressOption &option)
{
    m_idPrefix = std::string(option.idPrefix);
}
