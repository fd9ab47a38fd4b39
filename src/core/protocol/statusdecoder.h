#pragma once

#include <optional>
#include <string>
#include <string_view>

// Turns the reply to a status query into plain English. It reads the RXD display's text (the
// rendering of everything received since the buffer was last emptied), not the raw bytes, so
// its keys are in rendered form: the reply "00" CR is matched as " 0 0".
//
// Returns the new status display text, or nothing when lastCommand is not a status query under
// the prefix now in force or the reply matches no row.
std::optional<std::string> decodeStatus(std::string_view rxdText, std::string_view lastCommand,
                                        std::string_view idPrefix);

// Whether code is one of the status queries, whose replies the functions here decode.
bool isStatusQuery(std::string_view code);

// The reply to a status query as a script reads it: the status display's text without its
// leading space, except that lamp hours, temperatures and the model are given as the
// characters came rather than spaced out as the RXD display shows them ("01234 Hour Use").
// reply is the received text up to and including its carriage return. Nothing when
// lastCommand is not a status query under idPrefix, or the reply is not of the form the
// projector sends for it: a row's key exactly, one to nine digits of lamp hours, two signed
// temperatures laid out as the status display reads them (places 1-5 and 8-11), or a
// printable model text.
std::optional<std::string> decodeReply(std::string_view reply, std::string_view lastCommand,
                                       std::string_view idPrefix);
