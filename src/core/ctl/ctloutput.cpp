#include "core/ctl/ctloutput.h"

#include "core/ctl/commandrunner.h"
#include "core/protocol/escaping.h"

// Not QJsonDocument: it writes a carriage return as \r where koru-ctl has always written
// \u000d, writes DEL and the bytes beyond ASCII as they are (a reply's bytes are no UTF-8),
// and QJsonObject orders the keys by name, where "time" comes first and "error" last.
std::string jsonString(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json.push_back('\\');
            json.push_back(c);
        } else if (byte < 0x20 || byte >= 0x7f) {
            // Replies are bytes, not UTF-8: each stands for the character of its value.
            json += "\\u00";
            json.push_back(kHex[byte >> 4]);
            json.push_back(kHex[byte & 0xf]);
        } else {
            json.push_back(c);
        }
    }
    json.push_back('"');
    return json;
}

std::string jsonLine(const CtlResult &result, std::string_view time)
{
    std::string line = "{";
    if (!time.empty())
        line += "\"time\":" + jsonString(time) + ",";
    line += "\"command\":" + jsonString(result.command) + ",\"frame\":" + jsonString(result.frame) +
            ",\"reply\":" + jsonString(result.reply);
    if (result.ok())
        line += ",\"text\":" + jsonString(result.text);
    else
        line += ",\"error\":" + jsonString(result.error);
    line += "}";
    return line;
}

CtlText formatResult(const CtlResult &result, bool json, bool verbose, std::string_view time)
{
    CtlText text;
    if (json) {
        text.out = jsonLine(result, time) + "\n";
        return text;
    }
    const std::string stamp = time.empty() ? std::string() : std::string(time) + " ";
    if (result.ok())
        text.out = stamp + escapeTraffic(result.text) + "\n";
    else if (result.error == "NAK")
        text.out = stamp + "NAK\n";
    else
        text.err =
            "koru-ctl: " + stamp + escapeTraffic(result.command) + ": " + result.error + "\n";
    if (verbose && !result.reply.empty())
        text.out += stamp + escapeTraffic(result.reply) + "\n";
    return text;
}
