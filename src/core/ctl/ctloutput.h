#pragma once

#include <string>
#include <string_view>

struct CtlResult;

// A JSON string literal: quotes, backslashes and control bytes escaped (\u00XX), and bytes
// beyond ASCII as \u00XX too, so that any reply makes valid JSON.
std::string jsonString(std::string_view text);
// {"command":...,"frame":...,"reply":...,"text":...} or with "error" in place of "text".
std::string jsonLine(const CtlResult &result);
