#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A projector serial line reached over the network through a ser2net style server, either as
// telnet with COM-PORT-OPTION (rfc2217://) or as a raw TCP byte stream (tcp://).
//
// Qt-free on purpose: the Qt layer wraps it and marshals the events to its own thread.

struct NetAddress {
    enum class Kind { Rfc2217, Tcp } kind;
    std::string host;
    int port;
};

// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (also "[IPv6]:PORT"). nullopt for anything else,
// including a port outside 1..65535, an empty host, or a host with characters that could be
// mistaken for gensio syntax.
std::optional<NetAddress> parseNetAddress(std::string_view url);

enum class NetFailure { HostNotFound, Refused, TimedOut, SettingsRejected, Other };

struct NetError {
    NetFailure failure;
    std::string detail;  // gensio's own words where gensio gave any
};

class NetLine {
public:
    // Each event runs on the line's own thread, never while a NetLine lock is held, so an event
    // may call back into the line (open, close, write, even destroy it). An event must not wait
    // for a thread that is itself inside close() or the destructor: those wait for the running
    // event to finish.
    struct Events {
        // Once per open() that is not cancelled by a later open()/close(). nullopt means
        // connected (and, for rfc2217, the server accepted the speed and 8N1).
        std::function<void(std::optional<NetError>)> opened;
        std::function<void(std::string)> received;
        // The far side or the network closed a connection that had opened successfully.
        std::function<void()> lost;
        // A setBaud() after opening that the server refused or answered with another speed.
        std::function<void(NetError)> settingsRejected;
    };

    explicit NetLine(Events events);
    // Closes and joins the line's thread; safe at any moment, also mid-connect.
    ~NetLine();

    NetLine(const NetLine &) = delete;
    NetLine &operator=(const NetLine &) = delete;
    NetLine(NetLine &&) = delete;
    NetLine &operator=(NetLine &&) = delete;

    // Asynchronous: returns at once, the outcome arrives as opened(). Cancels any earlier
    // connection or attempt without events. The timeout covers the whole opening, including
    // the rfc2217 negotiation.
    void open(const NetAddress &address, int baud,
              std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // rfc2217: sends COM-PORT-OPTION SET-BAUDRATE and checks the answer; tcp: does nothing.
    // Ignored while not connected: open() takes the speed for the next connection.
    void setBaud(int baud);

    // Hands one frame over whole, or refuses it whole (returns false) when
    // pending() + frame.size() would exceed bound, or when not connected.
    bool write(std::string_view frame, std::size_t bound);

    // Bytes handed to write() that gensio has not yet taken. For tcp gensio hands them straight
    // to the socket; for rfc2217 its telnet layer may hold up to ~4 KiB more on their way.
    std::size_t pending() const;

    // No events are delivered once this returns (unless called from inside an event, where the
    // running event is of course allowed to finish).
    void close();

private:
    class Impl;
    std::shared_ptr<Impl> d;
};
