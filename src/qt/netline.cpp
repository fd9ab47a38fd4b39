#include "qt/netline.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <gensio/gensio_unix.h>
#include <gensio/sergensio.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

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

// Where in the opening an error came from decides what it means: GE_NOTFOUND out of
// str_to_gensio is a failed name lookup, elsewhere it is something else entirely.
enum class Stage { Resolve, Connect };

NetFailure failureFor(int err, Stage stage)
{
    switch (err) {
    case GE_CONNREFUSE:
        return NetFailure::Refused;
    case GE_TIMEDOUT:
        return NetFailure::TimedOut;
    case GE_UNKNOWN_NAME_ERROR:
    case GE_NAME_ERROR:
    case GE_NAME_INVALID:
    case GE_NAME_SERVER_FAILURE:
    case GE_NAME_NET_NOT_UP:
        return NetFailure::HostNotFound;
    case GE_NOTFOUND:
        return stage == Stage::Resolve ? NetFailure::HostNotFound : NetFailure::Other;
    default:
        return NetFailure::Other;
    }
}

NetError gensioError(int err, Stage stage)
{
    return NetError{failureFor(err, stage), gensio_err_to_str(err)};
}

void discardLog(gensio_os_funcs *, gensio_log_levels, const char *, va_list) {}

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
struct CloseCommand {};
struct QuitCommand {};
using Command = std::variant<OpenCommand, SetBaudCommand, CloseCommand, QuitCommand>;

constexpr std::size_t kWriteChunk = std::size_t{64} * 1024;

}  // namespace

class NetLine::Impl {
public:
    explicit Impl(Events events);
    ~Impl();

    void start(std::shared_ptr<Impl> self);
    void shutdown();

    void open(const NetAddress &address, int baud, std::chrono::milliseconds timeout);
    void setBaud(int baud);
    bool write(std::string_view frame, std::size_t bound);
    std::size_t pending() const;
    void close();

private:
    // One connection attempt and, if it succeeds, the connection. Owned by the loop thread.
    // It outlives its gensio's last callback: after gensio_close it waits in m_retired.
    struct Session {
        enum class State { Connecting, Configuring, Open, Closing };

        Session(Impl *owner, std::uint64_t gen, NetAddress::Kind k, int b)
            : impl(owner), generation(gen), kind(k), baud(b)
        {
        }

        Impl *const impl;
        const std::uint64_t generation;
        const NetAddress::Kind kind;
        const int baud;
        gensio *io = nullptr;
        State state = State::Connecting;
        int settingsPending = 0;
        std::optional<NetError> settingsError;
        std::string early;      // bytes that arrived while the settings were negotiated
        std::deque<int> asked;  // later setBaud() values awaiting the server's answer
    };

    // Loop thread.
    void run();
    void drainCommands();
    void startSession(const OpenCommand &command);
    void changeBaud(const SetBaudCommand &command);
    void retireSession();
    void failOpen(NetError error);
    void succeedOpen();
    void connectionBroke(Session &session, int err);
    void onRead(Session &session, int err, const unsigned char *buf, const gensiods *buflen);
    void settingAnswered(Session &session, int err, unsigned got, unsigned wanted,
                         const char *what);
    void laterBaudAnswered(Session &session, int err, unsigned got);
    void flushOutbox();
    template <class Call>
    void deliver(std::uint64_t generation, Call &&call);

    static int onEvent(gensio *io, void *userData, int event, int err, unsigned char *buf,
                       gensiods *buflen, const char *const *auxdata);
    static void onOpenDone(gensio *io, int err, void *data);
    static void onCloseDone(gensio *io, void *data);
    static void onTimer(gensio_timer *timer, void *data);
    static void onWake(gensio_iod *iod, void *data);
    static void onWakeCleared(gensio_iod *iod, void *data);

    // Any thread.
    void wake();
    void waitForRunningEvent(std::unique_lock<std::mutex> &lock);

    const Events m_events;

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
    gensio_timer *m_timer = nullptr;
    std::unique_ptr<Session> m_session;
    std::vector<std::unique_ptr<Session>> m_retired;
    std::vector<std::unique_ptr<Session>> m_closed;
    bool m_quitting = false;
    bool m_wakeCleared = false;
};

NetLine::Impl::Impl(Events events) : m_events(std::move(events))
{
    // A private os funcs with wake_sig 0 instead of gensio_default_os_hnd(): the default one
    // is a process-wide singleton that wants a wake signal with a handler, and
    // gensio_os_proc_setup() would install SIGCHLD/SIGPIPE handling behind Qt's back. Here only
    // the loop thread ever calls into gensio, so gensio never needs to signal a thread; other
    // threads wake the loop through m_wakeFd instead.
    if (int err = gensio_unix_funcs_alloc(nullptr, 0, &m_os))
        throw std::runtime_error(std::string("gensio: ") + gensio_err_to_str(err));
    gensio_os_funcs_set_vlog(m_os, discardLog);

    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int err = m_wakeFd < 0 ? GE_OSERR : m_os->add_iod(m_os, GENSIO_IOD_PIPE, m_wakeFd, &m_wakeIod);
    if (!err)
        err = m_os->set_fd_handlers(m_wakeIod, this, onWake, nullptr, nullptr, onWakeCleared);
    m_timer = err ? nullptr : gensio_os_funcs_alloc_timer(m_os, onTimer, this);
    if (err || !m_timer) {
        if (m_wakeIod)
            m_os->release_iod(m_wakeIod);
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
        gensio_os_funcs_free(m_os);
        throw std::runtime_error("gensio: cannot set up the event loop");
    }
    m_os->set_read_handler(m_wakeIod, true);
}

NetLine::Impl::~Impl()
{
    if (m_os)
        gensio_os_funcs_free(m_os);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void NetLine::Impl::start(std::shared_ptr<Impl> self)
{
    // Block before creating the thread so it never runs a single instruction unmasked.
    const sigset_t mask = loopThreadMask();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &mask, &previous);
    // The thread keeps the Impl alive so a line destroyed from inside its own event can
    // detach the thread and let it wind down by itself.
    m_thread = std::thread([self = std::move(self)] { self->run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void NetLine::Impl::shutdown()
{
    {
        std::unique_lock lock(m_mutex);
        ++m_generation;
        m_connected = false;
        m_outbox.clear();
        m_commands.push_back(QuitCommand{});
        waitForRunningEvent(lock);
    }
    wake();
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
    {
        std::unique_lock lock(m_mutex);
        ++m_generation;
        m_connected = false;
        m_outbox.clear();
        m_commands.push_back(CloseCommand{});
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
    while (!m_quitting || m_session || !m_retired.empty()) {
        // Blocks in epoll_pwait with every timer/fd gensio needs; nothing here ticks on its own.
        gensio_os_funcs_service(m_os, nullptr);
        // Freed only out here: gensio_free() from inside the gensio's own close callback is
        // not something gensio promises to survive.
        for (auto &session : m_closed)
            gensio_free(session->io);
        m_closed.clear();
    }
    m_os->clear_fd_handlers(m_wakeIod);
    while (!m_wakeCleared)
        gensio_os_funcs_service(m_os, nullptr);
    m_os->release_iod(m_wakeIod);
    m_wakeIod = nullptr;
    gensio_os_funcs_free_timer(m_os, m_timer);
    m_timer = nullptr;
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
    for (const Command &command : commands) {
        if (m_quitting)
            break;
        if (auto *c = std::get_if<OpenCommand>(&command)) {
            startSession(*c);
        } else if (auto *c = std::get_if<SetBaudCommand>(&command)) {
            changeBaud(*c);
        } else if (std::holds_alternative<CloseCommand>(command)) {
            retireSession();
        } else {
            m_quitting = true;
            retireSession();
        }
    }
    if (flush)
        flushOutbox();
}

void NetLine::Impl::startSession(const OpenCommand &command)
{
    retireSession();
    m_session =
        std::make_unique<Session>(this, command.generation, command.address.kind, command.baud);
    Session &session = *m_session;

    const std::string spec =
        std::string(command.address.kind == NetAddress::Kind::Rfc2217 ? "telnet(rfc2217),tcp,"
                                                                      : "tcp,") +
        command.address.host + "," + std::to_string(command.address.port);
    // Name resolution happens in here, synchronously (getaddrinfo).
    if (int err = str_to_gensio(spec.c_str(), m_os, onEvent, &session, &session.io)) {
        session.io = nullptr;
        failOpen(gensioError(err, Stage::Resolve));
        return;
    }

    const auto ms = std::max<std::int64_t>(command.timeout.count(), 1);
    gensio_time timeout{ms / 1000, static_cast<std::int32_t>((ms % 1000) * 1000000)};
    gensio_os_funcs_start_timer(m_os, m_timer, &timeout);

    if (int err = gensio_open(session.io, onOpenDone, &session))
        failOpen(gensioError(err, Stage::Connect));
}

void NetLine::Impl::retireSession()
{
    if (!m_session)
        return;
    // Not running is reported as GE_TIMEDOUT, which is fine here.
    gensio_os_funcs_stop_timer(m_os, m_timer);
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
    gensio_os_funcs_stop_timer(m_os, m_timer);
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
        impl->failOpen(gensioError(err, Stage::Connect));
        return;
    }
    gensio_set_read_callback_enable(io, true);
    if (session.kind == NetAddress::Kind::Tcp) {
        impl->succeedOpen();
        return;
    }

    // The telnet gensio reports open after the server answered COM-PORT-OPTION, or after about
    // 4 s of silence; in the second case the requests below fail with GE_NOTSUP.
    session.state = Session::State::Configuring;
    sergensio *sio = gensio_to_sergensio(io);
    if (!sio) {
        impl->failOpen({NetFailure::Other, "gensio: not a serial-capable connection"});
        return;
    }
    auto *cb = &session;
    using Done = sergensio_done;
    const Done baudDone = [](sergensio *, int e, unsigned v, void *d) {
        auto &s = *static_cast<Session *>(d);
        s.impl->settingAnswered(s, e, v, static_cast<unsigned>(s.baud), "baud rate");
    };
    const Done sizeDone = [](sergensio *, int e, unsigned v, void *d) {
        auto &s = *static_cast<Session *>(d);
        s.impl->settingAnswered(s, e, v, 8, "data size");
    };
    const Done parityDone = [](sergensio *, int e, unsigned v, void *d) {
        auto &s = *static_cast<Session *>(d);
        s.impl->settingAnswered(s, e, v, SERGENSIO_PARITY_NONE, "parity");
    };
    const Done stopDone = [](sergensio *, int e, unsigned v, void *d) {
        auto &s = *static_cast<Session *>(d);
        s.impl->settingAnswered(s, e, v, 1, "stop bits");
    };
    session.settingsPending = 4;
    int rv = sergensio_baud(sio, static_cast<unsigned>(session.baud), baudDone, cb);
    if (!rv)
        rv = sergensio_datasize(sio, 8, sizeDone, cb);
    if (!rv)
        rv = sergensio_parity(sio, SERGENSIO_PARITY_NONE, parityDone, cb);
    if (!rv)
        rv = sergensio_stopbits(sio, 1, stopDone, cb);
    if (rv)
        impl->failOpen({NetFailure::SettingsRejected, gensio_err_to_str(rv)});
}

void NetLine::Impl::settingAnswered(Session &session, int err, unsigned got, unsigned wanted,
                                    const char *what)
{
    if (session.state != Session::State::Configuring)
        return;
    if (!session.settingsError) {
        if (err) {
            session.settingsError =
                NetError{err == GE_TIMEDOUT ? NetFailure::TimedOut : NetFailure::SettingsRejected,
                         std::string(what) + ": " + gensio_err_to_str(err)};
        } else if (got != wanted) {
            session.settingsError =
                NetError{NetFailure::SettingsRejected, std::string("server set ") + what + " " +
                                                           std::to_string(got) + " instead of " +
                                                           std::to_string(wanted)};
        }
    }
    if (--session.settingsPending > 0)
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
    const sergensio_done done = [](sergensio *, int e, unsigned v, void *d) {
        auto &s = *static_cast<Session *>(d);
        s.impl->laterBaudAnswered(s, e, v);
    };
    int rv = sergensio_baud(gensio_to_sergensio(session->io), static_cast<unsigned>(command.baud),
                            done, session);
    if (!rv) {
        session->asked.push_back(command.baud);
        return;
    }
    deliver(session->generation, [&] {
        if (m_events.settingsRejected)
            m_events.settingsRejected({NetFailure::SettingsRejected, gensio_err_to_str(rv)});
    });
}

void NetLine::Impl::laterBaudAnswered(Session &session, int err, unsigned got)
{
    if (session.state != Session::State::Open || session.asked.empty())
        return;
    // The server answers in order, so the oldest question is the one being answered.
    const int wanted = session.asked.front();
    session.asked.pop_front();
    std::optional<NetError> error;
    if (err)
        error = NetError{NetFailure::SettingsRejected,
                         std::string("baud rate: ") + gensio_err_to_str(err)};
    else if (got != static_cast<unsigned>(wanted))
        error =
            NetError{NetFailure::SettingsRejected, "server set baud rate " + std::to_string(got) +
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
    std::string data(reinterpret_cast<const char *>(buf), *buflen);
    if (session.state != Session::State::Open) {
        session.early += data;
        return;
    }
    deliver(session.generation, [&] {
        if (m_events.received)
            m_events.received(std::move(data));
    });
}

void NetLine::Impl::connectionBroke(Session &session, int err)
{
    if (session.state != Session::State::Open) {
        failOpen(gensioError(err, Stage::Connect));
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

void NetLine::Impl::flushOutbox()
{
    Session *session = m_session.get();
    if (!session || session->state != Session::State::Open)
        return;

    // gensio_write() runs without our lock so no gensio path can ever wait on it; only this
    // thread removes bytes, so the copied chunk is still at the front afterwards unless a
    // close()/open() cleared the outbox meanwhile (the generation tells).
    std::string chunk;
    std::uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        chunk.assign(m_outbox, 0, std::min(m_outbox.size(), kWriteChunk));
        generation = m_generation;
    }
    gensiods count = 0;
    int rv =
        chunk.empty() ? 0 : gensio_write(session->io, &count, chunk.data(), chunk.size(), nullptr);
    if (rv) {
        connectionBroke(*session, rv);
        return;
    }
    bool more;
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation)
            m_outbox.erase(0, count);
        more = !m_outbox.empty();
    }
    gensio_set_write_callback_enable(session->io, more);
}

void NetLine::Impl::onTimer(gensio_timer *, void *data)
{
    auto *impl = static_cast<Impl *>(data);
    Session *session = impl->m_session.get();
    if (session && (session->state == Session::State::Connecting ||
                    session->state == Session::State::Configuring))
        impl->failOpen(gensioError(GE_TIMEDOUT, Stage::Connect));
}

// ---------------------------------------------------------------------------------------------

NetLine::NetLine(Events events) : d(std::make_shared<Impl>(std::move(events)))
{
    d->start(d);
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

std::optional<NetAddress> parseNetAddress(std::string_view url)
{
    NetAddress address{};
    constexpr std::string_view rfc2217Scheme = "rfc2217://";
    constexpr std::string_view tcpScheme = "tcp://";
    if (url.starts_with(rfc2217Scheme)) {
        address.kind = NetAddress::Kind::Rfc2217;
        url.remove_prefix(rfc2217Scheme.size());
    } else if (url.starts_with(tcpScheme)) {
        address.kind = NetAddress::Kind::Tcp;
        url.remove_prefix(tcpScheme.size());
    } else {
        return std::nullopt;
    }

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
