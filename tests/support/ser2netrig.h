#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// A real ser2net on 127.0.0.1, started by the test with a YAML file it writes, in front of
// devices the test owns (pseudo-terminals). The child dies with the test, whatever kills it.
class Ser2NetRig {
public:
    struct Connection {
        std::string accepter;  // "telnet(rfc2217),tcp", "tcp", "telnet,tcp"
        std::string device;
        int port = freePort();
    };

    explicit Ser2NetRig(std::vector<Connection> connections) : m_connections(std::move(connections))
    {
        char folder[] = "/tmp/koru-ser2net.XXXXXX";
        m_folder = ::mkdtemp(folder) ? folder : "/tmp";
        std::ofstream yaml(m_folder + "/ser2net.yaml");
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            const Connection &c = m_connections[i];
            yaml << "connection: &line" << i << "\n    accepter: " << c.accepter << ",127.0.0.1,"
                 << c.port << "\n    connector: serialdev," << c.device << ",19200n81,local\n"
                 << "    options:\n      kickolduser: true\n";
        }
    }
    Ser2NetRig(const Ser2NetRig &) = delete;
    Ser2NetRig &operator=(const Ser2NetRig &) = delete;
    ~Ser2NetRig()
    {
        stop();
        std::remove((m_folder + "/ser2net.yaml").c_str());
        std::remove((m_folder + "/ser2net.log").c_str());
        ::rmdir(m_folder.c_str());
    }

    // True once every port listens; false if ser2net ended or did not listen within 5 s.
    bool start()
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int log = ::open((m_folder + "/ser2net.log").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            ::dup2(log, 1);
            ::dup2(log, 2);
            // -d: in the foreground, logging to stdout; -u: no UUCP lock files.
            const std::string yaml = m_folder + "/ser2net.yaml";
            const std::string pid = m_folder + "/ser2net.pid";
            ::execl("/usr/sbin/ser2net", "ser2net", "-d", "-u", "-c", yaml.c_str(), "-P",
                    pid.c_str(), nullptr);
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_pid < 0 || ::waitpid(m_pid, nullptr, WNOHANG) != 0)
                return false;
            bool all = true;
            for (const Connection &c : m_connections)
                all = all && isListening(c.port);
            if (all)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a child's start-up
        }
        return false;
    }
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

    std::string url(std::size_t index, const char *scheme = nullptr) const
    {
        const Connection &c = m_connections.at(index);
        const char *kind = scheme ? scheme : c.accepter == "tcp" ? "tcp" : "rfc2217";
        return std::string(kind) + "://127.0.0.1:" + std::to_string(c.port);
    }
    int port(std::size_t index) const { return m_connections.at(index).port; }
    std::string logPath() const { return m_folder + "/ser2net.log"; }

    // A port on 127.0.0.1 that nothing listens on (for the moment).
    static int freePort()
    {
        int port = 0;
        ::close(listenOn(1, &port));
        return port;
    }
    static int listenOn(int backlog, int *port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(fd, backlog);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        *port = ntohs(address.sin_port);
        return fd;
    }

    // Name lookups of this process confined to /etc/hosts, in a private mount namespace, so
    // that an unknown name never reaches a DNS server. Call before any thread starts; false
    // when the namespace cannot be had (then the caller skips the unknown-host case).
    static bool isolateNameLookups()
    {
        char folder[] = "/tmp/koru-hosts.XXXXXX";
        if (!::mkdtemp(folder))
            return false;
        const std::string dir = folder;
        std::ofstream(dir + "/nsswitch.conf") << "hosts: files\n";
        std::ofstream(dir + "/resolv.conf") << "nameserver 127.0.0.1\n";
        auto bind = [&](const char *file, const char *over) {
            return ::mount((dir + file).c_str(), over, nullptr, MS_BIND, nullptr) == 0;
        };
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               bind("/nsswitch.conf", "/etc/nsswitch.conf") &&
               bind("/resolv.conf", "/etc/resolv.conf");
    }

    // A listener on 127.0.0.1:port, or -1.
    static int listenOnPort(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd, 4) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static bool isListening(int port)
    {
        std::ifstream tcp("/proc/net/tcp");
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, ":%04X", port);
        std::string line;
        std::getline(tcp, line);
        for (std::string slot, local, remote, state; tcp >> slot >> local >> remote >> state;) {
            std::getline(tcp, line);
            if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0 &&
                state == "0A")
                return true;
        }
        return false;
    }

private:
    std::vector<Connection> m_connections;
    std::string m_folder;
    pid_t m_pid = -1;
};
