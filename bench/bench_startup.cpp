// Starts a program on the X display and measures, without polling, how long it takes from the
// start to its first top-level window being mapped (viewable, as `xdotool search --onlyvisible`
// would find it), and its resident memory one second after that; optionally the CPU time and
// the wake-ups of an idle stretch after that second. Then ends the program.
//
//   bench_startup [--idle SECONDS] [--log FILE] -- PROGRAM [ARGUMENTS...]
//
// The program's own output goes to FILE (appended), or nowhere.
// Prints one line: startup_ms=... rss_kb=... [idle_cpu_ms=... idle_wakeups=...]
// Exits 1 when the program could not be started or showed no window within 30 s.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void sleepMs(double ms)
{
    if (ms <= 0)
        return;
    timespec ts{static_cast<time_t>(ms / 1e3), static_cast<long>(std::fmod(ms, 1e3) * 1e6)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// A field "Name:   value kB" of /proc/PID/status, or -1.
long statusField(const std::string &path, const char *name)
{
    std::ifstream in(path);
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    }
    return -1;
}

// Time on a CPU of every thread of the process, in milliseconds, from the scheduler's
// nanosecond counts (/proc/PID/stat counts in ticks of 10 ms).
double cpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR *dir = opendir(tasks.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
            unsigned long long runNs = 0;
            if (in >> runNs)
                total += static_cast<double>(runNs) / 1e6;
        }
        closedir(dir);
    }
    return total;
}

// Context switches of every thread of the process: each is a wake-up or a preemption.
long wakeUps(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    long total = 0;
    if (DIR *dir = opendir(tasks.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string status = tasks + "/" + entry->d_name + "/status";
            total += std::max(0L, statusField(status, "voluntary_ctxt_switches")) +
                     std::max(0L, statusField(status, "nonvoluntary_ctxt_switches"));
        }
        closedir(dir);
    }
    return total;
}

// The process that owns a window, as its toolkit tells it in _NET_WM_PID, or 0.
long windowPid(Display *display, Window window)
{
    const Atom property = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &after, &data) == Success &&
        data) {
        if (format == 32 && items == 1)
            pid = *reinterpret_cast<long *>(data);
        XFree(data);
    }
    return pid;
}

void endProgram(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        sleepMs(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char *argv[])
{
    double idleSeconds = 0;
    const char *logPath = "/dev/null";
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        }
        if (std::strcmp(argv[first], "--idle") == 0 && first + 1 < argc)
            idleSeconds = std::atof(argv[++first]);
        else if (std::strcmp(argv[first], "--log") == 0 && first + 1 < argc)
            logPath = argv[++first];
    }
    if (first >= argc) {
        std::fprintf(
            stderr,
            "usage: bench_startup [--idle SECONDS] [--log FILE] -- PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup: cannot open the X display\n");
        return 1;
    }
    // Every window mapped on the root from now on is reported to us.
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double startMs = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execvp(argv[first], argv + first);
        std::perror("bench_startup: exec");
        _exit(127);
    }
    if (pid < 0) {
        std::perror("bench_startup: fork");
        return 1;
    }

    double shownMs = -1;
    const int fd = ConnectionNumber(display);
    while (shownMs < 0 && nowMs() - startMs < 30000) {
        while (shownMs < 0 && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.override_redirect)
                continue;
            const long owner = windowPid(display, event.xmap.window);
            if (owner == pid || owner == 0)
                shownMs = nowMs();
        }
        if (shownMs >= 0)
            break;
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "bench_startup: %s ended before showing a window\n", argv[first]);
            return 1;
        }
        pollfd wait{fd, POLLIN, 0};
        poll(&wait, 1, 100);
    }
    if (shownMs < 0) {
        std::fprintf(stderr, "bench_startup: %s showed no window in 30 s\n", argv[first]);
        endProgram(pid);
        return 1;
    }

    sleepMs(shownMs + 1000 - nowMs());
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const long rssKb = statusField(status, "VmRSS");
    std::printf("startup_ms=%.1f rss_kb=%ld", shownMs - startMs, rssKb);
    if (idleSeconds > 0) {
        const double cpu0 = cpuMs(pid);
        const long wake0 = wakeUps(pid);
        sleepMs(idleSeconds * 1000);
        std::printf(" idle_cpu_ms=%.3f idle_wakeups=%ld", cpuMs(pid) - cpu0, wakeUps(pid) - wake0);
    }
    std::printf("\n");
    endProgram(pid);
    XCloseDisplay(display);
    return 0;
}
