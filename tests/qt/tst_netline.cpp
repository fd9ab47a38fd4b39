// The network line against hostile or odd far ends on loopback, each played by the test: a
// server that says why and closes, one that sends Telnet negotiation for ever and never reads,
// a name lookup that never answers, and a thread that cannot be started.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <QtTest>
#include <atomic>
#include <fstream>
#include <future>

#include "core/panel/devicemap.h"
#include "qt/netline.h"
#include "support/recordingnetline.h"
#include "support/ser2netrig.h"

namespace {

// One connection on 127.0.0.1, served by the test on a thread of its own.
class LoopbackServer {
public:
    enum class Behaviour { SayAndClose, SayAndStay, WillEchoForEver };

    explicit LoopbackServer(Behaviour behaviour) : m_listener(Ser2NetRig::listenOn(1, &m_port))
    {
        m_thread = std::thread([this, behaviour] { serve(behaviour); });
    }
    ~LoopbackServer()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    bool connected() const { return m_connected; }

private:
    void serve(Behaviour behaviour)
    {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        m_connected = true;
        const std::string said = "Port's device already in use\r\n";
        switch (behaviour) {
        case Behaviour::SayAndClose:
            ::send(fd, said.data(), said.size(), MSG_NOSIGNAL);
            break;
        case Behaviour::SayAndStay:
            ::send(fd, said.data(), said.size(), MSG_NOSIGNAL);
            while (!m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        case Behaviour::WillEchoForEver: {
            // Never reads; ends when the test ends or after 60 s at the most.
            const std::string willEcho = std::string("\xff\xfb\x01") + "\xff\xfb\x01";
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!m_stop && std::chrono::steady_clock::now() < end) {
                if (::send(fd, willEcho.data(), willEcho.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            break;
        }
        }
        ::close(fd);
    }

    int m_port = 0;
    int m_listener;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_connected = false;
    std::thread m_thread;
};

// Destroys the line on a thread of its own; false if that did not end within the bound (the
// line is then left to the end of the process, and the test fails).
bool destroyedWithin(std::unique_ptr<NetLine> line, std::chrono::seconds bound)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([line = std::move(line), done]() mutable {
        line.reset();
        done->set_value();
    }).detach();
    return finished.wait_for(bound) == std::future_status::ready;
}

}  // namespace

class TestNetLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingEndsWithTheServersReason_data();
    void openingEndsWithTheServersReason();
    void nameLookupIsBoundedAndAbandonedOnClose_data();
    void nameLookupIsBoundedAndAbandonedOnClose();
    void ipv4MappedAddressReachesAnIpv4Server();
    void schemeIsCaseInsensitive();
    void threadThatCannotStartIsAnException();
};

void TestNetLine::openingEndsWithTheServersReason_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("failure");  // -1: opens
    QTest::addColumn<QString>("says");
    using B = LoopbackServer::Behaviour;
    const int tcp = int(NetAddress::Kind::Tcp), rfc2217 = int(NetAddress::Kind::Rfc2217);
    QTest::newRow("tcp, says why and closes")
        << int(B::SayAndClose) << tcp << int(NetFailure::Closed) << "Port's device already in use";
    QTest::newRow("rfc2217, says why and closes")
        << int(B::SayAndClose) << rfc2217 << int(NetFailure::Closed)
        << "Port's device already in use";
    QTest::newRow("tcp, stays up")
        << int(B::SayAndStay) << tcp << -1 << "Port's device already in use\r\n";
    // Given the whole 5 s, as koru-ctl gives it: a Telnet layer that waits for its own
    // answers to be read would never close.
    QTest::newRow("rfc2217, WILL ECHO for ever")
        << int(B::WillEchoForEver) << rfc2217 << int(NetFailure::NoAnswer)
        << "did not answer COM-PORT-OPTION within 5 s";
}

void TestNetLine::openingEndsWithTheServersReason()
{
    QFETCH(int, behaviour);
    QFETCH(int, kind);
    QFETCH(int, failure);
    QFETCH(QString, says);
    LoopbackServer server(static_cast<LoopbackServer::Behaviour>(behaviour));
    RecordingNetLine recorder;
    // A settle time far longer than loopback needs, so a busy machine cannot turn a close
    // into a connection that opened.
    NetLineOptions options;
    options.settle = std::chrono::seconds(1);
    auto line = std::make_unique<NetLine>(recorder.events(), options);
    const auto timeout =
        std::chrono::seconds(behaviour == int(LoopbackServer::Behaviour::WillEchoForEver) ? 5 : 1);
    line->open({NetAddress::Kind(kind), "127.0.0.1", server.port()}, 19200, timeout);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.hasOutcome(), 10000);
    if (failure < 0)
        QTRY_COMPARE(recorder.received(), says.toStdString());
    QVERIFY(destroyedWithin(std::move(line), std::chrono::seconds(5)));
    const auto error = recorder.opened();
    if (failure < 0) {
        QVERIFY2(!error, error ? error->detail.c_str() : "");
        return;
    }
    QVERIFY(error);
    QCOMPARE(int(error->failure), failure);
    QVERIFY2(error->detail.find(says.toStdString()) != std::string::npos, error->detail.c_str());
}

void TestNetLine::nameLookupIsBoundedAndAbandonedOnClose_data()
{
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("says");
    QTest::newRow("never answers") << false << "could not be looked up: no answer within 300 ms";
    QTest::newRow("fails") << true << "could not be looked up: Name or service not known";
}

void TestNetLine::nameLookupIsBoundedAndAbandonedOnClose()
{
    QFETCH(bool, answers);
    QFETCH(QString, says);
    // The fake lookup holds its thread until the test lets it go, as a lookup that never
    // answers does; no name ever reaches a real resolver.
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    NetLineOptions options;
    options.resolver = [answers, released](const std::string &) {
        if (!answers)
            released.wait();
        return NameLookup{{}, "Name or service not known"};
    };
    RecordingNetLine recorder;
    auto line = std::make_unique<NetLine>(recorder.events(), options);
    const NetAddress address{NetAddress::Kind::Rfc2217, "projector.example", 4001};
    line->open(address, 19200, std::chrono::milliseconds(300));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.hasOutcome(), 10000);
    const auto error = recorder.opened();
    QVERIFY(error);
    QCOMPARE(error->failure, NetFailure::HostNotFound);
    QVERIFY2(error->detail.find(says.toStdString()) != std::string::npos, error->detail.c_str());

    // Closed and destroyed in the middle of a lookup: neither waits for it.
    line->open(address, 19200);
    line->close();
    line->open(address, 19200);
    QVERIFY(destroyedWithin(std::move(line), std::chrono::seconds(5)));
    release->set_value();
}

void TestNetLine::ipv4MappedAddressReachesAnIpv4Server()
{
    LoopbackServer server(LoopbackServer::Behaviour::SayAndStay);
    const auto address =
        parseNetAddress("tcp://[::ffff:127.0.0.1]:" + std::to_string(server.port()));
    QVERIFY(address);
    RecordingNetLine recorder;
    NetLine line(recorder.events());
    line.open(*address, 19200);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.hasOutcome(), 10000);
    const auto error = recorder.opened();
    QVERIFY2(!error, error ? error->detail.c_str() : "");
    QVERIFY(server.connected());
}

void TestNetLine::schemeIsCaseInsensitive()
{
    for (const char *name : {"RFC2217://projector:4001", "Rfc2217://projector:4001"}) {
        QVERIFY(DeviceMap::isNetworkName(name));
        QCOMPARE(parseNetAddress(name)->kind, NetAddress::Kind::Rfc2217);
    }
    QVERIFY(DeviceMap::isNetworkName("TCP://projector:4002"));
    QCOMPARE(parseNetAddress("TCP://projector:4002")->kind, NetAddress::Kind::Tcp);
    QVERIFY(!DeviceMap::isNetworkName("/dev/RFC2217://x"));
    QVERIFY(!DeviceMap::isNetworkName("tcp:/projector:4002"));
}

void TestNetLine::threadThatCannotStartIsAnException()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's own mappings do not bear a limit on the address space");
#endif
    // This test program again, running only this function, in a fresh process: one that has
    // ended no thread yet keeps no stack to reuse, so a new thread needs a new mapping.
    if (!std::getenv("KORU_NETLINE_NO_ROOM")) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("KORU_NETLINE_NO_ROOM", "1", 1);
            ::execl("/proc/self/exe", "tst_netline", "threadThatCannotStartIsAnException",
                    "-silent", nullptr);
            ::_exit(127);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status), "the child did not exit: the failure aborted it");
        QVERIFY2(WEXITSTATUS(status) != 2, "the caller's signal mask was left blocked");
        QVERIFY2(WEXITSTATUS(status) != 3, "the failure was not a std::system_error");
        QVERIFY2(WEXITSTATUS(status) != 1, "the line started: the limit did not bite");
        QCOMPARE(WEXITSTATUS(status), 0);
        return;
    }
    // The address space limited to just above what is in use: no room for a thread's stack,
    // room enough for everything else the line sets up.
    std::ifstream status("/proc/self/status");
    std::string key;
    long kib = 0;
    while (status >> key && key != "VmSize:")
        status.ignore(1024, '\n');
    status >> kib;
    const rlim_t limit = static_cast<rlim_t>(kib + 2048) * 1024;
    const rlimit room{limit, limit};
    ::setrlimit(RLIMIT_AS, &room);
    sigset_t before, after;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    int result = 1;
    try {
        NetLine line({});
    } catch (const std::system_error &) {
        pthread_sigmask(SIG_SETMASK, nullptr, &after);
        result = 0;
        for (int sig = 1; sig < SIGRTMAX; ++sig) {
            if (sigismember(&before, sig) != sigismember(&after, sig))
                result = 2;
        }
    } catch (...) {
        result = 3;
    }
    ::_exit(result);
}

QTEST_GUILESS_MAIN(TestNetLine)
#include "tst_netline.moc"
