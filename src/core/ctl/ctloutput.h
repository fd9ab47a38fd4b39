#pragma once

#include <string>
#include <string_view>

struct CtlResult;

// A JSON string literal: quotes, backslashes and control bytes escaped (\u00XX), and bytes
// beyond ASCII as \u00XX too, so that any reply makes valid JSON.
std::string jsonString(std::string_view text);
// {"command":...,"frame":...,"reply":...,"text":...} or with "error" in place of "text", and
// "time" first when a time is given.
std::string jsonLine(const CtlResult &result, std::string_view time = {});

// What koru-ctl prints for one result, on standard output and on standard error. Every byte
// that came from the line is escaped as the traffic log writes it (or as JSON escapes it), so
// that a reply can never drive the terminal: clear it, retitle it, or ring it.
struct CtlText {
    std::string out;
    std::string err;
};
// time, when given, opens each line of a result (the date and time of the reply, for a log that
// a cron job appends to).
CtlText formatResult(const CtlResult &result, bool json, bool verbose, std::string_view time = {});
