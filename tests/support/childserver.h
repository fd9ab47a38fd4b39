#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/ser2netrig.h"

// A server program that the test starts on 127.0.0.1 and that dies with the test, whatever
// kills it: either a program that listens by itself, or an inetd-style one, for which the
// child listens and runs the program for each connection with the socket as its standard input
// and output. Its output goes to /dev/null.
class ChildServer {
public:
    ChildServer() = default;
    ChildServer(const ChildServer &) = delete;
    ChildServer &operator=(const ChildServer &) = delete;
    ~ChildServer() { stop(); }

    // argv listens on port by itself. True once it does; false if it ended or did not within
    // 5 s.
    bool start(const std::vector<std::string> &argv, int port)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            quietChild();
            exec(argv);
        }
        return waitForListener(port);
    }

    // argv serves one connection on its standard input and output; at most `connections` of
    // them are accepted.
    bool startInetd(const std::vector<std::string> &argv, int port, int connections = 8)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            quietChild();
            const int listener = Ser2NetRig::listenOnPort(port);
            for (int i = 0; listener >= 0 && i < connections; ++i) {
                const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection < 0)
                    continue;
                if (::fork() == 0) {
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    ::dup2(connection, 0);
                    ::dup2(connection, 1);
                    exec(argv);
                }
                ::close(connection);
                while (::waitpid(-1, nullptr, WNOHANG) > 0) {
                }
            }
            ::_exit(0);
        }
        return waitForListener(port);
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    static void quietChild()
    {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }

    [[noreturn]] static void exec(const std::vector<std::string> &argv)
    {
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }

    bool waitForListener(int port)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_pid < 0)
                return false;
            // A child that has ended is reaped here, and its number is no longer ours to kill.
            if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
                m_pid = -1;
                return false;
            }
            if (Ser2NetRig::isListening(port))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a child's start-up
        }
        return false;
    }

    pid_t m_pid = -1;
};
