#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// The client's side of Telnet with COM-PORT-OPTION (RFC 854, RFC 2217) as a pure byte
// transformation: wire bytes in, line bytes and the server's answers out; line bytes and
// requests in, wire bytes out. No I/O and no clock, so what the server sends is parsed in one
// place that a test or a fuzzer can drive alone.
//
// Servers negotiate in different orders: one answers our WILL COM-PORT-OPTION at once, another
// first sends WILL ECHO, WILL COM-PORT-OPTION and the like and answers later. Only the server's
// DO COM-PORT-OPTION counts as agreement, and only its DONT as a refusal.
class Rfc2217Codec {
public:
    enum class Agreement { Waiting, Agreed, Refused };

    // The answer to one of our requests: command is the request's code (1 SET-BAUDRATE,
    // 2 SET-DATASIZE, 3 SET-PARITY, 4 SET-STOPSIZE), value what the server says it set.
    struct Answer {
        std::uint8_t command;
        std::uint32_t value;
        bool malformed;  // a value too short (a 1-byte baud rate, say)
    };

    static constexpr std::uint8_t kSetBaudRate = 1;
    static constexpr std::uint8_t kSetDataSize = 2;
    static constexpr std::uint8_t kSetParity = 3;
    static constexpr std::uint8_t kSetStopSize = 4;
    static constexpr std::uint8_t kParityNone = 1;
    static constexpr std::uint8_t kOneStopBit = 1;

    // Queues IAC WILL COM-PORT-OPTION, the client's opening request.
    Rfc2217Codec();

    // Takes the wire bytes of a stream chunk; returns the line bytes among them. Telnet
    // commands are acted on (and answered through output()), split anywhere across chunks.
    std::string feed(std::string_view wire);

    // Line bytes as wire bytes: every IAC doubled.
    static std::string escape(std::string_view line);

    void request(std::uint8_t command, std::uint32_t value);

    Agreement comPort() const { return m_comPort; }
    // Whether anything of the Telnet protocol has come from the server at all.
    bool heardTelnet() const { return m_heardTelnet; }
    std::deque<Answer> &answers() { return m_answers; }
    // Wire bytes to send: negotiation replies and requests, in order. Bounded: each option is
    // answered at most twice in each direction, so a server that repeats a request for ever
    // makes it no longer.
    std::string &output() { return m_output; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    enum class Side { No, Yes, WantYes };

    void negotiate(std::uint8_t verb, std::uint8_t option);
    void subnegotiation();
    void send(std::uint8_t verb, std::uint8_t option);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::string m_sub;
    bool m_subOverflow = false;
    std::array<Side, 256> m_us{};   // options we perform (WILL/WONT from us, DO/DONT to us)
    std::array<Side, 256> m_him{};  // options the server performs
    std::array<std::uint8_t, 256> m_replies{};
    Agreement m_comPort = Agreement::Waiting;
    bool m_heardTelnet = false;
    std::deque<Answer> m_answers;
    std::string m_output;
};
