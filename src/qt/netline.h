#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A projector serial line reached over the network through a serial server, either as telnet
// with COM-PORT-OPTION (rfc2217://) or as a raw TCP byte stream (tcp://). gensio carries the TCP
// connection; the Telnet and RFC 2217 layer is our own (Rfc2217Codec), so that servers that
// negotiate in another order work, and so that closing never waits on the server.
//
// Qt-free on purpose: the Qt layer wraps it and marshals the events to its own thread.

struct NetAddress {
    enum class Kind { Rfc2217, Tcp } kind;
    std::string host;
    int port;
};

// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (also "[IPv6]:PORT"; the scheme in any case).
// nullopt for anything else, including a port outside 1..65535, an empty host, or a host with
// characters that could be mistaken for gensio syntax.
std::optional<NetAddress> parseNetAddress(std::string_view url);

// HostNotFound: the name could not be looked up (in time). NoAnswer: the server took the
// connection but never answered COM-PORT-OPTION or the line settings. Closed: the server closed
// the connection before the line was set up (the detail quotes what it said, if anything).
enum class NetFailure {
    HostNotFound,
    Refused,
    TimedOut,
    SettingsRejected,
    NoAnswer,
    Closed,
    Other
};

struct NetError {
    NetFailure failure;
    std::string detail;  // what went wrong, in gensio's or the server's words where they gave any
};

// What a name lookup found: numeric addresses in the order to try them, or why there are none.
struct NameLookup {
    std::vector<std::string> addresses;
    std::string error;
};

// Looks a host name up. It may block as long as it likes: NetLine runs it on a thread of its own
// and abandons it when the opening times out or is closed first.
using NameResolver = std::function<NameLookup(const std::string &host)>;

// getaddrinfo(), TCP addresses in its order.
NameLookup systemNameLookup(const std::string &host);

struct NetLineOptions {
    NameResolver resolver = systemNameLookup;
    // A tcp:// connection counts as open once it has stayed up this long plus twice the time
    // the TCP handshake took (1 s at most): a serial server that cannot open its device still
    // accepts the connection, then sends a line of text and closes it within about one round
    // trip. Bytes that arrive meanwhile are delivered once it counts as open.
    std::chrono::milliseconds settle{100};
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

    // Starts the line's thread; throws std::system_error when no thread can be started (and
    // std::runtime_error when gensio cannot set up its event loop), leaving nothing behind.
    explicit NetLine(Events events, NetLineOptions options = {});
    // Closes and joins the line's thread; safe at any moment, also mid-connect or mid-lookup,
    // and returns within about a second whatever the server does.
    ~NetLine();

    NetLine(const NetLine &) = delete;
    NetLine &operator=(const NetLine &) = delete;
    NetLine(NetLine &&) = delete;
    NetLine &operator=(NetLine &&) = delete;

    // Asynchronous: returns at once, the outcome arrives as opened(). Cancels any earlier
    // connection or attempt without events. The timeout covers the whole opening: the name
    // lookup, the connection and the rfc2217 negotiation.
    void open(const NetAddress &address, int baud,
              std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // rfc2217: sends COM-PORT-OPTION SET-BAUDRATE and checks the answer; tcp: does nothing.
    // Ignored while not connected: open() takes the speed for the next connection.
    void setBaud(int baud);

    // Hands one frame over whole, or refuses it whole (returns false) when
    // pending() + frame.size() would exceed bound, or when not connected.
    bool write(std::string_view frame, std::size_t bound);

    // Bytes handed to write() that gensio has not yet taken. For tcp gensio hands them straight
    // to the socket; for rfc2217 the telnet layer may hold up to ~4 KiB more on their way.
    std::size_t pending() const;

    // No events are delivered once this returns (unless called from inside an event, where the
    // running event is of course allowed to finish).
    void close();

private:
    class Impl;
    std::shared_ptr<Impl> d;
};
