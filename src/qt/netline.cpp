#include "qt/netline.h"

#include <arpa/inet.h>
#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <gensio/gensio_unix.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "core/panel/devicemap.h"
#include "core/rfc2217/rfc2217codec.h"

namespace {

bool isHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool isIpv6Char(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

std::optional<int> parsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

// A numeric address as gensio should be given it, or nullopt for a name. An IPv4 address
// mapped into IPv6 (::ffff:a.b.c.d) becomes the IPv4 address: gensio's IPv6 sockets refuse to
// reach IPv4 through it.
std::optional<std::string> numericAddress(const std::string &host)
{
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return host;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) != 1)
        return std::nullopt;
    char text[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::copy_n(v6.s6_addr + 12, 4, reinterpret_cast<unsigned char *>(&v4));
        ::inet_ntop(AF_INET, &v4, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return std::string(text);
}

NetFailure failureFor(int err)
{
    switch (err) {
    case GE_CONNREFUSE:
        return NetFailure::Refused;
    case GE_TIMEDOUT:
        return NetFailure::TimedOut;
    default:
        return NetFailure::Other;
    }
}

NetError gensioError(int err)
{
    return NetError{failureFor(err), gensio_err_to_str(err)};
}

// What a server said before it closed the connection, fit to quote in one line: printable
// text only, runs of anything else as one space, at most 200 characters.
std::string quotable(std::string_view said)
{
    std::string text;
    for (char c : said) {
        const bool printable = c >= 0x20 && c < 0x7f;
        if (printable)
            text += c;
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
        if (text.size() >= 200)
            break;
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string seconds(std::chrono::milliseconds time)
{
    const auto ms = time.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

gensio_time gensioTime(std::chrono::nanoseconds time)
{
    const auto ns = std::max<std::int64_t>(time.count(), 1000000);
    return gensio_time{ns / 1000000000, static_cast<std::int32_t>(ns % 1000000000)};
}

void discardLog(gensio_os_funcs *, gensio_log_levels, const char *, va_list) {}

// gensio binds its process-wide state (its base lock, the registry of gensio types) to the
// first os funcs that allocates a gensio, and uses that os funcs for ever after. Each line
// frees its own when it goes, so a first one that lives as long as the process takes that
// role: without it the second line after the first one went would lock through freed memory.
void anchorGensioState()
{
    static gensio_os_funcs *const anchor = [] {
        gensio_os_funcs *os = nullptr;
        if (gensio_unix_funcs_alloc(nullptr, 0, &os) != 0)
            return static_cast<gensio_os_funcs *>(nullptr);
        gensio_os_funcs_set_vlog(os, discardLog);
        gensio *io = nullptr;
        if (str_to_gensio("tcp,ipv4,127.0.0.1,1", os, nullptr, nullptr, &io) == 0)
            gensio_free(io);
        return os;
    }();
    static_cast<void>(anchor);
}

// The loop thread must never take process-directed signals (the product's SIGTERM/SIGINT/SIGHUP
// self-pipe handler, SIGUSR1 users, SIGCHLD for QProcess...). Faults stay deliverable so that a
// crash in this thread still reaches a debugger or sanitizer.
sigset_t loopThreadMask()
{
    sigset_t mask;
    sigfillset(&mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
        sigdelset(&mask, sig);
    return mask;
}

// Blocks the loop thread's signals in the calling thread for as long as it lives, so that a
// thread created meanwhile never runs a single instruction unmasked; the caller's mask comes
// back also when creating the thread throws.
class SignalBlock {
public:
    SignalBlock()
    {
        const sigset_t mask = loopThreadMask();
        pthread_sigmask(SIG_BLOCK, &mask, &m_previous);
    }
    ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    SignalBlock(const SignalBlock &) = delete;
    SignalBlock &operator=(const SignalBlock &) = delete;

private:
    sigset_t m_previous;
};

struct OpenCommand {
    NetAddress address;
    int baud;
    std::chrono::milliseconds timeout;
    std::uint64_t generation;
};
struct SetBaudCommand {
    int baud;
    std::uint64_t generation;
};
struct LookupDoneCommand {
    NameLookup result;
    std::uint64_t generation;
};
struct CloseCommand {};
struct QuitCommand {};
using Command =
    std::variant<OpenCommand, SetBaudCommand, LookupDoneCommand, CloseCommand, QuitCommand>;

constexpr std::size_t kWriteChunk = std::size_t{64} * 1024;
// Line bytes escaped for Telnet at a time: what gensio's own telnet layer held.
constexpr std::size_t kTelnetChunk = 4096;
// Bytes kept from before a connection counts as open; a serial line at 19200 baud fills this
// in half a minute, far longer than any opening.
constexpr std::size_t kEarlyBytes = std::size_t{64} * 1024;
constexpr auto kMaxSettle = std::chrono::seconds(1);
// How long a closing connection may take once the line is being destroyed; gensio closes a
// TCP socket at once, so this only bounds the unforeseen.
constexpr auto kQuitGrace = std::chrono::milliseconds(500);

}  // namespace

NameLookup systemNameLookup(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    const int rv = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rv != 0)
        return {{}, rv == EAI_SYSTEM ? std::string(std::strerror(errno)) : ::gai_strerror(rv)};
    NameLookup lookup;
    for (const addrinfo *a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void *where =
            a->ai_family == AF_INET
                ? static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr)
                : static_cast<const void *>(
                      &reinterpret_cast<sockaddr_in6 *>(a->ai_addr)->sin6_addr);
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
            ::inet_ntop(a->ai_family, where, text, sizeof text))
            lookup.addresses.emplace_back(text);
    }
    ::freeaddrinfo(found);
    if (lookup.addresses.empty())
        lookup.error = "no IPv4 or IPv6 address";
    return lookup;
}

class NetLine::Impl : public std::enable_shared_from_this<NetLine::Impl> {
public:
    Impl(Events events, NetLineOptions options);
    ~Impl();

    void start();
    void shutdown();

    void open(const NetAddress &address, int baud, std::chrono::milliseconds timeout);
    void setBaud(int baud);
    bool write(std::string_view frame, std::size_t bound);
    std::size_t pending() const;
    void close();

private:
    // Drops the connection, the frames it has not sent and its events still to come (one
    // running now on another thread is waited for), and hands the line's thread command.
    void end(Command command);
    // Frees the loop's timers and its wake-up descriptor, those of them that were made.
    void releaseLoopParts();
    // One connection attempt and, if it succeeds, the connection. Owned by the loop thread.
    // It outlives its gensio's last callback: after gensio_close it waits in m_retired.
    struct Session {
        enum class State { Resolving, Connecting, Negotiating, Settling, Open, Closing };

        Session(Impl *owner, const OpenCommand &command)
            : impl(owner),
              generation(command.generation),
              kind(command.address.kind),
              baud(command.baud),
              host(command.address.host),
              port(command.address.port),
              timeout(command.timeout)
        {
        }

        Impl *const impl;
        const std::uint64_t generation;
        const NetAddress::Kind kind;
        const int baud;
        const std::string host;
        const int port;
        const std::chrono::milliseconds timeout;
        std::vector<std::string> addresses;
        std::size_t nextAddress = 0;
        gensio *io = nullptr;
        State state = State::Resolving;
        std::chrono::steady_clock::time_point connectStarted;
        std::optional<Rfc2217Codec> telnet;  // rfc2217 only
        std::string wire;                    // Telnet bytes gensio has not yet taken
        bool settingsRequested = false;
        std::array<bool, 5> settingAsked{};  // by request code, while negotiating
        std::optional<NetError> settingsError;
        std::string early;      // bytes that arrived before the connection counted as open
        std::deque<int> asked;  // later setBaud() values awaiting the server's answer
    };

    // Loop thread.
    void run();
    void drainCommands();
    void startSession(const OpenCommand &command);
    void lookupDone(LookupDoneCommand &command);
    void connectNext(Session &session);
    void changeBaud(const SetBaudCommand &command);
    void retireSession();
    void failOpen(NetError error);
    void succeedOpen();
    void connected(Session &session);
    void connectionBroke(Session &session, int err);
    void onRead(Session &session, int err, const unsigned char *buf, const gensiods *buflen);
    void telnetHeard(Session &session);
    void settingAnswered(Session &session, const Rfc2217Codec::Answer &answer);
    void laterBaudAnswered(Session &session, const Rfc2217Codec::Answer &answer);
    bool flushWire(Session &session);
    void flushOutbox();
    void deadlinePassed();
    template <class Call>
    void deliver(std::uint64_t generation, Call &&call);

    static int onEvent(gensio *io, void *userData, int event, int err, unsigned char *buf,
                       gensiods *buflen, const char *const *auxdata);
    static void onOpenDone(gensio *io, int err, void *data);
    static void onCloseDone(gensio *io, void *data);
    static void onWake(gensio_iod *iod, void *data);
    static void onWakeCleared(gensio_iod *iod, void *data);

    // Any thread.
    void wake();
    void waitForRunningEvent(std::unique_lock<std::mutex> &lock);
    void post(Command command);

    const Events m_events;
    const NetLineOptions m_options;

    mutable std::mutex m_mutex;
    std::condition_variable m_eventDone;
    std::deque<Command> m_commands;
    std::string m_outbox;
    bool m_connected = false;
    bool m_flushQueued = false;
    bool m_inEvent = false;
    // Bumped by open(), close() and destruction; events of older generations are dropped.
    std::uint64_t m_generation = 0;

    int m_wakeFd = -1;
    std::thread m_thread;

    // Loop thread only (and construction/destruction, when the loop is not running).
    gensio_os_funcs *m_os = nullptr;
    gensio_iod *m_wakeIod = nullptr;
    gensio_timer *m_deadline = nullptr;
    gensio_timer *m_settle = nullptr;
    std::unique_ptr<Session> m_session;
    std::vector<std::unique_ptr<Session>> m_retired;
    std::vector<std::unique_ptr<Session>> m_closed;
    std::vector<gensio *> m_unopened;  // connections that failed before opening, to free
    bool m_quitting = false;
    bool m_abandon = false;
    bool m_wakeCleared = false;
};

NetLine::Impl::Impl(Events events, NetLineOptions options)
    : m_events(std::move(events)), m_options(std::move(options))
{
    // A private os funcs with wake_sig 0 instead of gensio_default_os_hnd(): the default one
    // is a process-wide singleton that wants a wake signal with a handler, and
    // gensio_os_proc_setup() would install SIGCHLD/SIGPIPE handling behind Qt's back. Here only
    // the loop thread ever calls into gensio, so gensio never needs to signal a thread; other
    // threads wake the loop through m_wakeFd instead.
    anchorGensioState();
    if (int err = gensio_unix_funcs_alloc(nullptr, 0, &m_os)) {
        m_os = nullptr;
        throw std::runtime_error(std::string("gensio: ") + gensio_err_to_str(err));
    }
    gensio_os_funcs_set_vlog(m_os, discardLog);

    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int err = m_wakeFd < 0 ? GE_OSERR : m_os->add_iod(m_os, GENSIO_IOD_PIPE, m_wakeFd, &m_wakeIod);
    if (!err)
        err = m_os->set_fd_handlers(m_wakeIod, this, onWake, nullptr, nullptr, onWakeCleared);
    if (!err) {
        m_deadline = gensio_os_funcs_alloc_timer(
            m_os, [](gensio_timer *, void *data) { static_cast<Impl *>(data)->deadlinePassed(); },
            this);
        m_settle = gensio_os_funcs_alloc_timer(
            m_os,
            [](gensio_timer *, void *data) {
                auto *impl = static_cast<Impl *>(data);
                if (impl->m_session && impl->m_session->state == Session::State::Settling)
                    impl->succeedOpen();
            },
            this);
    }
    if (err || !m_deadline || !m_settle) {
        releaseLoopParts();
        gensio_os_funcs_free(m_os);
        throw std::runtime_error("gensio: cannot set up the event loop");
    }
    m_os->set_read_handler(m_wakeIod, true);
}

void NetLine::Impl::releaseLoopParts()
{
    if (m_deadline)
        gensio_os_funcs_free_timer(m_os, m_deadline);
    if (m_settle)
        gensio_os_funcs_free_timer(m_os, m_settle);
    if (m_wakeIod) {
        m_os->clear_fd_handlers_norpt(m_wakeIod);
        m_os->release_iod(m_wakeIod);
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_deadline = nullptr;
    m_settle = nullptr;
    m_wakeIod = nullptr;
    m_wakeFd = -1;
}

NetLine::Impl::~Impl()
{
    // What run() releases is still here when the thread never started, or when the loop gave
    // up on a connection that would not close.
    releaseLoopParts();
    // A connection left open still lives on the os funcs.
    if (!m_abandon)
        gensio_os_funcs_free(m_os);
}

void NetLine::Impl::start()
{
    const SignalBlock block;
    // The thread keeps the Impl alive so a line destroyed from inside its own event can
    // detach the thread and let it wind down by itself.
    m_thread = std::thread([self = shared_from_this()] { self->run(); });
}

void NetLine::Impl::shutdown()
{
    end(QuitCommand{});
    if (std::this_thread::get_id() == m_thread.get_id())
        m_thread.detach();
    else
        m_thread.join();
}

void NetLine::Impl::wake()
{
    const std::uint64_t one = 1;
    // EAGAIN means the counter is already non-zero: the loop is awake or about to be.
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void NetLine::Impl::post(Command command)
{
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    wake();
}

void NetLine::Impl::waitForRunningEvent(std::unique_lock<std::mutex> &lock)
{
    // From inside an event the running event is the caller itself; waiting would deadlock.
    if (std::this_thread::get_id() != m_thread.get_id())
        m_eventDone.wait(lock, [this] { return !m_inEvent; });
}

void NetLine::Impl::open(const NetAddress &address, int baud, std::chrono::milliseconds timeout)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_connected = false;
        m_outbox.clear();
        m_commands.push_back(OpenCommand{address, baud, timeout, m_generation});
    }
    wake();
}

void NetLine::Impl::setBaud(int baud)
{
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(SetBaudCommand{baud, m_generation});
    }
    wake();
}

bool NetLine::Impl::write(std::string_view frame, std::size_t bound)
{
    bool needWake = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_connected || frame.size() > bound || m_outbox.size() > bound - frame.size())
            return false;
        m_outbox.append(frame);
        needWake = !std::exchange(m_flushQueued, true);
    }
    if (needWake)
        wake();
    return true;
}

std::size_t NetLine::Impl::pending() const
{
    std::lock_guard lock(m_mutex);
    return m_outbox.size();
}

void NetLine::Impl::close()
{
    end(CloseCommand{});
}

void NetLine::Impl::end(Command command)
{
    {
        std::unique_lock lock(m_mutex);
        ++m_generation;
        m_connected = false;
        m_outbox.clear();
        m_commands.push_back(std::move(command));
        waitForRunningEvent(lock);
    }
    wake();
}

template <class Call>
void NetLine::Impl::deliver(std::uint64_t generation, Call &&call)
{
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        m_inEvent = true;
    }
    call();
    {
        std::lock_guard lock(m_mutex);
        m_inEvent = false;
    }
    m_eventDone.notify_all();
}

void NetLine::Impl::run()
{
    while (!m_abandon && (!m_quitting || m_session || !m_retired.empty())) {
        // Blocks in epoll_pwait with every timer/fd gensio needs; nothing here ticks on its own.
        gensio_os_funcs_service(m_os, nullptr);
        // Freed only out here: gensio_free() from inside the gensio's own close callback is
        // not something gensio promises to survive.
        for (auto &session : m_closed)
            gensio_free(session->io);
        m_closed.clear();
        for (gensio *io : m_unopened)
            gensio_free(io);
        m_unopened.clear();
    }
    gensio_os_funcs_stop_timer(m_os, m_deadline);
    gensio_os_funcs_stop_timer(m_os, m_settle);
    if (m_abandon) {
        // A connection that would not close in time: its gensio (and with it the os funcs it
        // lives on) is left to the end of the process rather than block the caller.
        m_retired.clear();
        return;
    }
    m_os->clear_fd_handlers(m_wakeIod);
    while (!m_wakeCleared)
        gensio_os_funcs_service(m_os, nullptr);
    m_os->release_iod(m_wakeIod);
    m_wakeIod = nullptr;
    gensio_os_funcs_free_timer(m_os, m_deadline);
    m_deadline = nullptr;
    gensio_os_funcs_free_timer(m_os, m_settle);
    m_settle = nullptr;
}

void NetLine::Impl::onWake(gensio_iod *, void *data)
{
    static_cast<Impl *>(data)->drainCommands();
}

void NetLine::Impl::onWakeCleared(gensio_iod *, void *data)
{
    static_cast<Impl *>(data)->m_wakeCleared = true;
}

void NetLine::Impl::drainCommands()
{
    std::uint64_t counter;
    [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &counter, sizeof counter);

    std::deque<Command> commands;
    bool flush;
    {
        std::lock_guard lock(m_mutex);
        commands.swap(m_commands);
        flush = std::exchange(m_flushQueued, false);
    }
    for (Command &command : commands) {
        if (m_quitting)
            break;
        if (auto *c = std::get_if<OpenCommand>(&command)) {
            startSession(*c);
        } else if (auto *c = std::get_if<SetBaudCommand>(&command)) {
            changeBaud(*c);
        } else if (auto *c = std::get_if<LookupDoneCommand>(&command)) {
            lookupDone(*c);
        } else if (std::holds_alternative<CloseCommand>(command)) {
            retireSession();
        } else {
            m_quitting = true;
            retireSession();
            if (!m_retired.empty()) {
                gensio_time grace = gensioTime(kQuitGrace);
                gensio_os_funcs_start_timer(m_os, m_deadline, &grace);
            }
        }
    }
    if (flush)
        flushOutbox();
}

void NetLine::Impl::startSession(const OpenCommand &command)
{
    retireSession();
    m_session = std::make_unique<Session>(this, command);
    Session &session = *m_session;
    gensio_time timeout = gensioTime(command.timeout);
    gensio_os_funcs_start_timer(m_os, m_deadline, &timeout);

    if (auto address = numericAddress(command.address.host)) {
        session.addresses.push_back(*address);
        connectNext(session);
        return;
    }
    // The lookup runs on a thread of its own so that neither the time-out nor a close ever
    // waits for it; its answer comes back as a command, and is dropped if the opening it was
    // for has ended meanwhile. Started from the loop thread, it inherits its signal mask.
    try {
        std::thread([weak = weak_from_this(), resolver = m_options.resolver,
                     host = command.address.host, generation = command.generation] {
            NameLookup result;
            try {
                result = resolver ? resolver(host) : systemNameLookup(host);
            } catch (const std::exception &e) {
                result.error = e.what();
            }
            if (auto impl = weak.lock())
                impl->post(LookupDoneCommand{std::move(result), generation});
        }).detach();
    } catch (const std::system_error &e) {
        failOpen({NetFailure::Other, std::string("cannot start the name lookup: ") + e.what()});
    }
}

void NetLine::Impl::lookupDone(LookupDoneCommand &command)
{
    Session *session = m_session.get();
    if (!session || session->generation != command.generation ||
        session->state != Session::State::Resolving)
        return;
    session->addresses.clear();
    for (const std::string &address : command.result.addresses) {
        if (auto numeric = numericAddress(address))
            session->addresses.push_back(*numeric);
    }
    if (session->addresses.empty()) {
        const std::string why = command.result.error.empty() ? "no address" : command.result.error;
        failOpen({NetFailure::HostNotFound, "its name could not be looked up: " + why});
        return;
    }
    connectNext(*session);
}

void NetLine::Impl::connectNext(Session &session)
{
    session.state = Session::State::Connecting;
    const std::string &address = session.addresses[session.nextAddress++];
    const bool v6 = address.find(':') != std::string::npos;
    const std::string spec = std::string("tcp,") + (v6 ? "ipv6," : "ipv4,") + address + "," +
                             std::to_string(session.port);
    if (int err = str_to_gensio(spec.c_str(), m_os, onEvent, &session, &session.io)) {
        session.io = nullptr;
        failOpen(gensioError(err));
        return;
    }
    session.connectStarted = std::chrono::steady_clock::now();
    if (int err = gensio_open(session.io, onOpenDone, &session))
        failOpen(gensioError(err));
}

void NetLine::Impl::retireSession()
{
    if (!m_session)
        return;
    // Not running is reported as GE_TIMEDOUT, which is fine here.
    gensio_os_funcs_stop_timer(m_os, m_deadline);
    gensio_os_funcs_stop_timer(m_os, m_settle);
    std::unique_ptr<Session> session = std::move(m_session);
    session->state = Session::State::Closing;
    if (!session->io)
        return;
    if (gensio_close(session->io, onCloseDone, session.get()) != 0) {
        // Not open (e.g. the open already failed): nothing left to wait for.
        m_closed.push_back(std::move(session));
        return;
    }
    m_retired.push_back(std::move(session));
}

void NetLine::Impl::onCloseDone(gensio *, void *data)
{
    auto *session = static_cast<Session *>(data);
    Impl *impl = session->impl;
    auto it = std::find_if(impl->m_retired.begin(), impl->m_retired.end(),
                           [session](const auto &s) { return s.get() == session; });
    if (it != impl->m_retired.end()) {
        impl->m_closed.push_back(std::move(*it));
        impl->m_retired.erase(it);
    }
}

void NetLine::Impl::failOpen(NetError error)
{
    if (!m_session)
        return;
    const std::uint64_t generation = m_session->generation;
    retireSession();
    deliver(generation, [&] {
        if (m_events.opened)
            m_events.opened(std::move(error));
    });
}

void NetLine::Impl::succeedOpen()
{
    Session &session = *m_session;
    gensio_os_funcs_stop_timer(m_os, m_deadline);
    gensio_os_funcs_stop_timer(m_os, m_settle);
    session.state = Session::State::Open;
    const std::uint64_t generation = session.generation;
    std::string early = std::exchange(session.early, {});
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation)
            m_connected = true;
    }
    deliver(generation, [&] {
        if (m_events.opened)
            m_events.opened(std::nullopt);
    });
    if (!early.empty()) {
        deliver(generation, [&] {
            if (m_events.received)
                m_events.received(std::move(early));
        });
    }
}

void NetLine::Impl::onOpenDone(gensio *io, int err, void *data)
{
    auto &session = *static_cast<Session *>(data);
    Impl *impl = session.impl;
    // gensio reports open done even after a close that overtook it; that session is retired.
    if (session.state != Session::State::Connecting)
        return;
    if (err) {
        // Another address of the same name may answer (a name with an IPv6 and an IPv4
        // address, a server listening on one of them).
        if (err != GE_TIMEDOUT && session.nextAddress < session.addresses.size()) {
            impl->m_unopened.push_back(std::exchange(session.io, nullptr));
            impl->connectNext(session);
            return;
        }
        impl->failOpen(gensioError(err));
        return;
    }
    gensio_set_read_callback_enable(io, true);
    impl->connected(session);
}

void NetLine::Impl::connected(Session &session)
{
    if (session.kind == NetAddress::Kind::Tcp) {
        session.state = Session::State::Settling;
        const auto handshake = std::chrono::steady_clock::now() - session.connectStarted;
        const auto settle = std::min<std::chrono::nanoseconds>(
            m_options.settle + 2 * handshake,
            std::max<std::chrono::nanoseconds>(kMaxSettle, m_options.settle));
        gensio_time time = gensioTime(settle);
        gensio_os_funcs_start_timer(m_os, m_settle, &time);
        return;
    }
    session.state = Session::State::Negotiating;
    session.telnet.emplace();
    session.wire = std::exchange(session.telnet->output(), {});
    flushWire(session);
}

void NetLine::Impl::telnetHeard(Session &session)
{
    Rfc2217Codec &telnet = *session.telnet;
    if (session.state == Session::State::Negotiating) {
        if (telnet.comPort() == Rfc2217Codec::Agreement::Refused) {
            failOpen({NetFailure::SettingsRejected,
                      "the server refused COM-PORT-OPTION: no RFC 2217 on this port"});
            return;
        }
        if (telnet.comPort() == Rfc2217Codec::Agreement::Agreed && !session.settingsRequested) {
            session.settingsRequested = true;
            telnet.request(Rfc2217Codec::kSetBaudRate, static_cast<std::uint32_t>(session.baud));
            telnet.request(Rfc2217Codec::kSetDataSize, 8);
            telnet.request(Rfc2217Codec::kSetParity, Rfc2217Codec::kParityNone);
            telnet.request(Rfc2217Codec::kSetStopSize, Rfc2217Codec::kOneStopBit);
            for (std::uint8_t c = Rfc2217Codec::kSetBaudRate; c <= Rfc2217Codec::kSetStopSize; ++c)
                session.settingAsked[c] = true;
        }
    }
    session.wire += std::exchange(telnet.output(), {});
    const std::uint64_t generation = session.generation;
    while (!telnet.answers().empty() && m_session.get() == &session &&
           session.generation == generation) {
        const Rfc2217Codec::Answer answer = telnet.answers().front();
        telnet.answers().pop_front();
        if (session.state == Session::State::Negotiating)
            settingAnswered(session, answer);
        else if (session.state == Session::State::Open)
            laterBaudAnswered(session, answer);
    }
}

void NetLine::Impl::settingAnswered(Session &session, const Rfc2217Codec::Answer &answer)
{
    static constexpr std::array<const char *, 5> kNames = {"", "baud rate", "data size", "parity",
                                                           "stop bits"};
    const std::array<std::uint32_t, 5> wanted = {0, static_cast<std::uint32_t>(session.baud), 8,
                                                 Rfc2217Codec::kParityNone,
                                                 Rfc2217Codec::kOneStopBit};
    if (!session.settingAsked[answer.command])
        return;
    session.settingAsked[answer.command] = false;
    if (!session.settingsError) {
        const std::string what = kNames[answer.command];
        if (answer.malformed)
            session.settingsError =
                NetError{NetFailure::SettingsRejected, "server answered " + what + " malformed"};
        else if (answer.value != wanted[answer.command])
            session.settingsError =
                NetError{NetFailure::SettingsRejected,
                         "server set " + what + " " + std::to_string(answer.value) +
                             " instead of " + std::to_string(wanted[answer.command])};
    }
    if (std::ranges::any_of(session.settingAsked, [](bool asked) { return asked; }))
        return;
    if (session.settingsError)
        failOpen(*session.settingsError);
    else
        succeedOpen();
}

void NetLine::Impl::changeBaud(const SetBaudCommand &command)
{
    Session *session = m_session.get();
    if (!session || session->state != Session::State::Open ||
        session->generation != command.generation || session->kind != NetAddress::Kind::Rfc2217)
        return;
    session->telnet->request(Rfc2217Codec::kSetBaudRate, static_cast<std::uint32_t>(command.baud));
    session->asked.push_back(command.baud);
    session->wire += std::exchange(session->telnet->output(), {});
    flushWire(*session);
}

void NetLine::Impl::laterBaudAnswered(Session &session, const Rfc2217Codec::Answer &answer)
{
    if (answer.command != Rfc2217Codec::kSetBaudRate || session.asked.empty())
        return;
    // The server answers in order, so the oldest question is the one being answered.
    const int wanted = session.asked.front();
    session.asked.pop_front();
    std::optional<NetError> error;
    if (answer.malformed)
        error = NetError{NetFailure::SettingsRejected, "server answered baud rate malformed"};
    else if (answer.value != static_cast<std::uint32_t>(wanted))
        error = NetError{NetFailure::SettingsRejected, "server set baud rate " +
                                                           std::to_string(answer.value) +
                                                           " instead of " + std::to_string(wanted)};
    if (!error)
        return;
    deliver(session.generation, [&] {
        if (m_events.settingsRejected)
            m_events.settingsRejected(std::move(*error));
    });
}

int NetLine::Impl::onEvent(gensio *, void *userData, int event, int err, unsigned char *buf,
                           gensiods *buflen, const char *const *)
{
    auto &session = *static_cast<Session *>(userData);
    switch (event) {
    case GENSIO_EVENT_READ:
        session.impl->onRead(session, err, buf, buflen);
        return 0;
    case GENSIO_EVENT_WRITE_READY:
        if (session.state == Session::State::Open)
            session.impl->flushOutbox();
        else if (session.state != Session::State::Closing)
            session.impl->flushWire(session);
        return 0;
    default:
        return GE_NOTSUP;
    }
}

void NetLine::Impl::onRead(Session &session, int err, const unsigned char *buf,
                           const gensiods *buflen)
{
    if (session.state == Session::State::Closing)
        return;
    if (err) {
        connectionBroke(session, err);
        return;
    }
    const std::string_view bytes(reinterpret_cast<const char *>(buf), *buflen);
    std::string data = session.telnet ? session.telnet->feed(bytes) : std::string(bytes);
    if (session.state != Session::State::Open) {
        session.early.append(data, 0, std::min(data.size(), kEarlyBytes - session.early.size()));
    } else if (!data.empty()) {
        deliver(session.generation, [&] {
            if (m_events.received)
                m_events.received(std::move(data));
        });
    }
    // The event may have closed or replaced the session.
    if (session.telnet && m_session.get() == &session && session.state != Session::State::Closing) {
        telnetHeard(session);
        if (m_session.get() == &session)
            flushWire(session);
    }
}

void NetLine::Impl::connectionBroke(Session &session, int err)
{
    if (session.state != Session::State::Open) {
        if (session.state == Session::State::Connecting) {
            failOpen(gensioError(err));
            return;
        }
        // A serial server that cannot have its device takes the connection, says why in a
        // line of text and closes it.
        const std::string said = quotable(session.early);
        failOpen({NetFailure::Closed,
                  said.empty() ? "the server closed the connection without a word"
                               : "the server closed the connection, saying \"" + said + "\""});
        return;
    }
    const std::uint64_t generation = session.generation;
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation) {
            m_connected = false;
            m_outbox.clear();
        }
    }
    retireSession();
    deliver(generation, [&] {
        if (m_events.lost)
            m_events.lost();
    });
}

bool NetLine::Impl::flushWire(Session &session)
{
    if (!session.wire.empty()) {
        gensiods count = 0;
        if (int rv = gensio_write(session.io, &count, session.wire.data(), session.wire.size(),
                                  nullptr)) {
            connectionBroke(session, rv);
            return false;
        }
        session.wire.erase(0, count);
    }
    if (!session.wire.empty())
        gensio_set_write_callback_enable(session.io, true);
    else if (session.state != Session::State::Open)
        gensio_set_write_callback_enable(session.io, false);
    return true;
}

void NetLine::Impl::flushOutbox()
{
    Session *session = m_session.get();
    if (!session || session->state != Session::State::Open)
        return;
    if (!flushWire(*session) || !session->wire.empty())
        return;

    // gensio_write() runs without our lock so no gensio path can ever wait on it; only this
    // thread removes bytes, so the copied chunk is still at the front afterwards unless a
    // close()/open() cleared the outbox meanwhile (the generation tells).
    std::string chunk;
    std::uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        const std::size_t limit = session->telnet ? kTelnetChunk : kWriteChunk;
        chunk.assign(m_outbox, 0, std::min(m_outbox.size(), limit));
        generation = m_generation;
    }
    gensiods count = 0;
    if (session->telnet) {
        // Escaped, the chunk is the telnet layer's: taken whole.
        session->wire = Rfc2217Codec::escape(chunk);
        count = chunk.size();
        if (!flushWire(*session))
            return;
    } else if (!chunk.empty()) {
        if (int rv = gensio_write(session->io, &count, chunk.data(), chunk.size(), nullptr)) {
            connectionBroke(*session, rv);
            return;
        }
    }
    bool more;
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation)
            m_outbox.erase(0, count);
        more = !m_outbox.empty();
    }
    gensio_set_write_callback_enable(session->io, more || !session->wire.empty());
}

void NetLine::Impl::deadlinePassed()
{
    if (m_quitting) {
        m_abandon = true;
        return;
    }
    Session *session = m_session.get();
    if (!session)
        return;
    const std::string within = " within " + seconds(session->timeout);
    switch (session->state) {
    case Session::State::Resolving:
        failOpen({NetFailure::HostNotFound, "its name could not be looked up: no answer" + within});
        return;
    case Session::State::Connecting:
        failOpen(gensioError(GE_TIMEDOUT));
        return;
    case Session::State::Negotiating: {
        const Rfc2217Codec &telnet = *session->telnet;
        std::string what = "the server did not answer COM-PORT-OPTION";
        if (telnet.comPort() == Rfc2217Codec::Agreement::Agreed)
            what = "the server agreed to COM-PORT-OPTION but did not answer the line settings";
        else if (telnet.heardTelnet())
            what = "the server sent Telnet options but did not answer COM-PORT-OPTION";
        failOpen({NetFailure::NoAnswer, what + within});
        return;
    }
    case Session::State::Settling:
    case Session::State::Open:
    case Session::State::Closing:
        return;
    }
}

// ---------------------------------------------------------------------------------------------

NetLine::NetLine(Events events, NetLineOptions options)
    : d(std::make_shared<Impl>(std::move(events), std::move(options)))
{
    d->start();
}

NetLine::~NetLine()
{
    d->shutdown();
}

void NetLine::open(const NetAddress &address, int baud, std::chrono::milliseconds timeout)
{
    d->open(address, baud, timeout);
}

void NetLine::setBaud(int baud)
{
    d->setBaud(baud);
}

bool NetLine::write(std::string_view frame, std::size_t bound)
{
    return d->write(frame, bound);
}

std::size_t NetLine::pending() const
{
    return d->pending();
}

void NetLine::close()
{
    d->close();
}

// Not QUrl: this file is Qt-free, and QUrl takes what is refused here, each of which would be
// refused again after it: a host lowered ("tcp://Projector:4002" gives "projector", while the
// messages quote the name as given), decoded ("h%41" gives "ha") or an international name
// turned to its ACE form, a user ("u@h:4002"), a path ("h:4002/x"), a port of 0, none ("h:")
// or of six digits ("h:004002"). Nor gensio_scan_network_port: it reads gensio's "HOST,PORT"
// and looks the name up at once, where the lookup runs under the opening's time-out on a
// thread of its own.
std::optional<NetAddress> parseNetAddress(std::string_view url)
{
    NetAddress address{};
    switch (DeviceMap::networkScheme(url)) {
    case DeviceMap::NetScheme::Rfc2217:
        address.kind = NetAddress::Kind::Rfc2217;
        break;
    case DeviceMap::NetScheme::Tcp:
        address.kind = NetAddress::Kind::Tcp;
        break;
    case DeviceMap::NetScheme::None:
        return std::nullopt;
    }
    url.remove_prefix(url.find("://") + 3);
    std::string_view host;
    std::string_view port;
    if (url.starts_with('[')) {
        const auto end = url.find(']');
        if (end == std::string_view::npos)
            return std::nullopt;
        host = url.substr(1, end - 1);
        if (host.find(':') == std::string_view::npos || !std::ranges::all_of(host, isIpv6Char))
            return std::nullopt;
        url.remove_prefix(end + 1);
        if (!url.starts_with(':'))
            return std::nullopt;
        port = url.substr(1);
    } else {
        // A bare IPv6 address is ambiguous with the port separator, so it needs brackets.
        const auto colon = url.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        host = url.substr(0, colon);
        port = url.substr(colon + 1);
        if (host.empty() || !std::ranges::all_of(host, isHostChar))
            return std::nullopt;
    }
    const auto portNumber = parsePort(port);
    if (!portNumber)
        return std::nullopt;
    address.host = std::string(host);
    address.port = *portNumber;
    return address;
}
