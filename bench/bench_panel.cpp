// Figures of the real panel on the real serial layer: Form1 on Qt's clock and QtSerialControl,
// pressed with QTest's mouse events on Qt's offscreen platform, against projector-sim at the
// far end of a pseudo-terminal. The simulator takes the figures' timestamps itself, in its log.
//
//   bench_panel repeat|latency|flood [--sim PROJECTOR_SIM] [--work DIR]
//
// The simulator runs as a process of its own, on the other core: its reads, replies and log
// lines then neither delay the panel's timers nor count in the panel's CPU time, and its
// timestamps are taken outside the panel, as at the far end of a cable.
//
// Time passes in a QEventLoop ended by a precise single-shot timer, never in QTest::qWait, which
// sleeps 10 ms between rounds of events.

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/panel/messagebox.h"
#include "qt/qtclock.h"
#include "qt/qtserialcontrol.h"
#include "sim/core/simevent.h"
#include "support/keys.h"
#include "support/ser2netrig.h"
#include "support/simprocess.h"
#include "widgets/form1.h"

namespace {

// What the projectors send unasked in the flood: a chattering device's status lines.
constexpr const char *kFloodText = "FLOOD 0123456789 abcdefghij\\r\\n";
// 19200 baud, 10 bit times a byte: the line carries 1920 bytes a second.
constexpr const char *kFloodRate = "1920";

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

std::int64_t cpuTimeUs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval &t) {
        return std::int64_t{t.tv_sec} * 1'000'000 + std::int64_t{t.tv_usec};
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// The nearest-rank percentile p (0 to 1) of the values.
double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// Qt's clock for the panel, noting when each tick of the repeat timer is delivered: the panel's
// own ticks, apart from the line and the far end. The repeat timer, Timer1, is the last of the
// four timers the panel makes: the traffic monitor's three come first.
class StampingClock : public Clock {
public:
    std::unique_ptr<TimerHandle> createTimer(std::function<void()> onTimeout) override
    {
        const bool repeatTimer = m_created++ == 3;
        return m_qtClock.createTimer([this, repeatTimer, onTimeout = std::move(onTimeout)] {
            if (repeatTimer && m_stamping)
                m_ticks.push_back(monotonicNowUs());
            onTimeout();
        });
    }

    std::chrono::nanoseconds now() const override { return m_qtClock.now(); }

    void stampTicks(bool on)
    {
        m_stamping = on;
        if (on)
            m_ticks.clear();
    }
    const std::vector<std::int64_t> &ticks() const { return m_ticks; }

private:
    QtClock m_qtClock;
    int m_created = 0;
    bool m_stamping = false;
    std::vector<std::int64_t> m_ticks;
};

// The panel shows a failed start-up in a modal box, which nobody would close here.
class PrintingMessageBox : public MessageBox {
public:
    void show(Icon, const std::string &title, const std::string &text) override
    {
        std::fprintf(stderr, "bench_panel: %s: %s\n", title.c_str(), text.c_str());
    }
};

// One line of the simulator's log.
struct LogLine {
    std::int64_t timeUs = 0;
    std::string kind;   // RX, TX, UNASKED, DROP, OPENED, CLOSED
    std::string field;  // the prefix of a frame, the projector of a reply
    std::string rest;   // the code of a frame, the text of a reply or of unasked text
};

std::optional<LogLine> parseLogLine(const std::string &line)
{
    if (line.empty() || line[0] == '#')
        return std::nullopt;
    const std::size_t dot = line.find('.');
    const std::size_t space = line.find(' ');
    if (dot == std::string::npos || space == std::string::npos || dot > space)
        return std::nullopt;
    LogLine parsed;
    parsed.timeUs = std::stoll(line.substr(0, dot)) * 1'000'000 +
                    std::stoll(line.substr(dot + 1, space - dot - 1));
    const std::string after = line.substr(space + 1);
    const std::size_t kindEnd = after.find(' ');
    parsed.kind = after.substr(0, kindEnd);
    if (kindEnd == std::string::npos)
        return parsed;
    const std::string fields = after.substr(kindEnd + 1);
    if (parsed.kind == "UNASKED") {
        parsed.rest = fields;
        return parsed;
    }
    const std::size_t fieldEnd = fields.find(' ');
    parsed.field = fields.substr(0, fieldEnd);
    if (fieldEnd != std::string::npos)
        parsed.rest = fields.substr(fieldEnd + 1);
    return parsed;
}

// projector-sim in a process of its own, logging to a file.
class Simulator {
public:
    bool start(const QString &program, const QStringList &options, const QString &logPath)
    {
        m_logPath = logPath;
        QFile::remove(logPath);
        m_process.setProgram(program);
        m_process.setArguments(options + QStringList{QStringLiteral("--log"), logPath});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The simulator ends with the benchmark, however the benchmark ends.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            std::fprintf(stderr, "bench_panel: cannot start %s\n", qPrintable(program));
            return false;
        }
        QByteArray out;
        QElapsedTimer waited;
        waited.start();
        while (!out.contains('\n') && waited.elapsed() < 10000) {
            m_process.waitForReadyRead(1000);
            out += m_process.readAllStandardOutput();
        }
        m_path = simListeningPath(out);
        if (m_path.isEmpty()) {
            std::fprintf(stderr, "bench_panel: projector-sim did not say where it listens\n");
            return false;
        }
        // Nothing more comes on standard output; the panel's event loop need not watch it.
        m_process.closeReadChannel(QProcess::StandardOutput);
        return true;
    }

    QString path() const { return m_path; }

    // Ends the simulator, which flushes its log, and reads the log.
    std::vector<LogLine> stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        std::vector<LogLine> lines;
        QFile log(m_logPath);
        if (!log.open(QIODevice::ReadOnly))
            return lines;
        while (!log.atEnd()) {
            const QByteArray line = log.readLine().trimmed();
            if (auto parsed = parseLogLine(line.toStdString()))
                lines.push_back(std::move(*parsed));
        }
        return lines;
    }

    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning)
            stop();
    }

private:
    QProcess m_process;
    QString m_path;
    QString m_logPath;
};

// The times at which the mouse events of one type were delivered to a widget, taken as the
// event reaches it, before its own handler runs.
class DeliveryStamps : public QObject {
public:
    DeliveryStamps(QWidget *widget, QEvent::Type type) : m_type(type)
    {
        widget->installEventFilter(this);
    }
    const std::vector<std::int64_t> &times() const { return m_times; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            m_times.push_back(monotonicNowUs());
        return false;
    }

private:
    QEvent::Type m_type;
    std::vector<std::int64_t> m_times;
};

// A 1 ms precise timer on the panel's event loop: how late each tick comes is how long the
// loop was kept from turning.
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }
    void start()
    {
        m_lateUs.clear();
        m_lastUs = monotonicNowUs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    std::int64_t longestUs() const
    {
        return m_lateUs.empty() ? 0 : *std::max_element(m_lateUs.begin(), m_lateUs.end());
    }
    std::size_t ticks() const { return m_lateUs.size(); }
    std::size_t lateBeyond(std::int64_t us) const
    {
        return static_cast<std::size_t>(
            std::count_if(m_lateUs.begin(), m_lateUs.end(), [us](auto late) { return late > us; }));
    }

private:
    void tick()
    {
        const std::int64_t now = monotonicNowUs();
        m_lateUs.push_back(std::max<std::int64_t>(0, now - m_lastUs - 1000));
        m_lastUs = now;
    }

    QTimer m_timer;
    std::int64_t m_lastUs = 0;
    std::vector<std::int64_t> m_lateUs;
};

// The floor beside the probe: a bare 1 ms clock_nanosleep loop in a process of its own (so that
// its CPU time does not count in the panel's), run over the same stretch of time. What it is
// kept waiting is what the machine costs any program, whatever the program does.
class FloorProbe {
public:
    void start(int ms)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            ::close(fds[0]);
            std::int64_t longest = 0;
            std::int64_t last = monotonicNowUs();
            const std::int64_t end = last + std::int64_t(ms) * 1000;
            while (last < end) {
                const timespec oneMs{0, 1'000'000L};
                ::clock_nanosleep(CLOCK_MONOTONIC, 0, &oneMs, nullptr);
                const std::int64_t now = monotonicNowUs();
                longest = std::max<std::int64_t>(longest, now - last - 1000);
                last = now;
            }
            [[maybe_unused]] const auto n = ::write(fds[1], &longest, sizeof longest);
            ::_exit(0);
        }
        ::close(fds[1]);
        m_pipe = fds[0];
    }
    // The longest the loop was kept beyond its 1 ms, or -1 when it could not run.
    std::int64_t finishUs()
    {
        std::int64_t longest = -1;
        if (m_child > 0) {
            if (::read(m_pipe, &longest, sizeof longest) != sizeof longest)
                longest = -1;
            ::waitpid(m_child, nullptr, 0);
        }
        if (m_pipe >= 0)
            ::close(m_pipe);
        m_child = -1;
        m_pipe = -1;
        return longest;
    }

private:
    pid_t m_child = -1;
    int m_pipe = -1;
};

// The real panel, as main() builds it, on COM1 = the simulator's pseudo-terminal, in its full
// view so that the traffic displays are shown and painted.
class Panel {
public:
    // device: a path, or a network address (rfc2217://, tcp://) as the program takes it.
    explicit Panel(const QString &device)
        : m_devices{device.toStdString(), "/nonexistent"},
          m_comm(m_devices, m_clock),
          m_form(m_clock, m_comm, m_messages)
    {
        m_form.setOnEnd([] {});
    }

    bool start()
    {
        if (!m_form.Form_Load())
            return false;
        QElapsedTimer connecting;
        connecting.start();
        while (m_comm.opening() && connecting.elapsed() < 6000)
            runFor(5);
        if (!m_comm.portOpen())
            return false;
        m_form.show();
        pressCtrlH(&m_form);
        return true;
    }

    QWidget *button(const char *name) const { return m_form.control(name); }
    const QtSerialControl &comm() const { return m_comm; }
    StampingClock &clock() { return m_clock; }

private:
    DeviceMap m_devices;
    StampingClock m_clock;
    QtSerialControl m_comm;
    PrintingMessageBox m_messages;
    Form1 m_form;
};

std::vector<std::int64_t> frameTimes(const std::vector<LogLine> &log, const std::string &code)
{
    std::vector<std::int64_t> times;
    for (const LogLine &line : log)
        if (line.kind == "RX" && line.rest == code)
            times.push_back(line.timeUs);
    return times;
}

// The frames of one hold against the ideal count, and how far their spacing strays from the
// nominal interval.
struct RepeatFigure {
    std::size_t frames = 0;
    std::size_t ideal = 0;
    double medianMs = NAN;
    double p99Ms = NAN;
    double maxMs = NAN;
    double meanSpacingMs = NAN;
};

RepeatFigure repeatFigure(const std::vector<std::int64_t> &times, std::int64_t pressUs,
                          std::int64_t releaseUs, int intervalMs)
{
    RepeatFigure figure;
    // The frame of the press and one for every full interval of the hold.
    figure.ideal = 1 + static_cast<std::size_t>((releaseUs - pressUs) / (intervalMs * 1000));
    std::vector<std::int64_t> held;
    for (const std::int64_t t : times)
        if (t >= pressUs && t <= releaseUs + 20'000)
            held.push_back(t);
    figure.frames = held.size();
    std::vector<double> deviations;
    for (std::size_t i = 1; i < held.size(); ++i)
        deviations.push_back(
            std::abs(static_cast<double>(held[i] - held[i - 1]) / 1000.0 - intervalMs));
    if (!deviations.empty()) {
        figure.medianMs = percentile(deviations, 0.5);
        figure.p99Ms = percentile(deviations, 0.99);
        figure.maxMs = percentile(deviations, 1.0);
        figure.meanSpacingMs =
            static_cast<double>(held.back() - held.front()) / 1000.0 / (held.size() - 1);
    }
    return figure;
}

void printRepeat(const char *what, int intervalMs, const RepeatFigure &f, bool targeted)
{
    std::printf(
        "repeat  %-22s %3d ms  frames %4zu of %4zu  spacing off by: median %.3f ms, p99 %.3f "
        "ms, max %.3f ms (mean spacing %.3f ms)",
        what, intervalMs, f.frames, f.ideal, f.medianMs, f.p99Ms, f.maxMs, f.meanSpacingMs);
    if (targeted)
        std::printf("  [target: p99 within 1 ms: %s]", verdict(f.p99Ms <= 1.0));
    std::printf("\n");
}

struct LatencyFigure {
    std::size_t matched = 0;
    double medianMs = NAN;
    double p99Ms = NAN;
    double maxMs = NAN;
};

// Pairs each delivery with the first frame taken after it and before the next delivery.
LatencyFigure latencyFigure(const std::vector<std::int64_t> &deliveries,
                            const std::vector<std::int64_t> &frames)
{
    LatencyFigure figure;
    std::vector<double> latencies;
    std::size_t next = 0;
    for (std::size_t i = 0; i < deliveries.size(); ++i) {
        while (next < frames.size() && frames[next] < deliveries[i])
            ++next;
        if (next == frames.size())
            break;
        const bool beforeNext = i + 1 == deliveries.size() || frames[next] < deliveries[i + 1];
        if (beforeNext)
            latencies.push_back(static_cast<double>(frames[next] - deliveries[i]) / 1000.0);
    }
    figure.matched = latencies.size();
    figure.medianMs = percentile(latencies, 0.5);
    figure.p99Ms = percentile(latencies, 0.99);
    figure.maxMs = percentile(latencies, 1.0);
    return figure;
}

struct Hold {
    const char *what;
    const char *button;
    const char *code;
    int intervalMs;
    bool targeted;
};

struct HoldRun {
    std::int64_t pressUs = 0;
    std::int64_t releaseUs = 0;
    std::vector<std::int64_t> ticks;  // the repeat timer's ticks that sent a frame
};

// Holds a button for 5 s and half an interval, so that no repetition falls due at the release.
HoldRun hold(Panel &panel, const Hold &h, int seconds)
{
    QWidget *button = panel.button(h.button);
    HoldRun run;
    panel.clock().stampTicks(true);
    run.pressUs = monotonicNowUs();
    QTest::mousePress(button, Qt::LeftButton);
    runFor(seconds * 1000 + h.intervalMs / 2);
    QTest::mouseRelease(button, Qt::LeftButton);
    run.releaseUs = monotonicNowUs();
    panel.clock().stampTicks(false);
    run.ticks = panel.clock().ticks();
    runFor(300);
    return run;
}

// How far the wake-ups of a bare clock_nanosleep loop stray from their interval: what this
// machine allows any program at the moment.
RepeatFigure machineFloor(int intervalMs, int count)
{
    std::vector<std::int64_t> wakeUps;
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    const std::int64_t startUs = monotonicNowUs();
    for (int i = 0; i < count; ++i) {
        due.tv_nsec += intervalMs * 1'000'000L;
        while (due.tv_nsec >= 1'000'000'000L) {
            due.tv_nsec -= 1'000'000'000L;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        wakeUps.push_back(monotonicNowUs());
    }
    return repeatFigure(wakeUps, startUs, wakeUps.back(), intervalMs);
}

void printSpacing(const char *what, const RepeatFigure &f)
{
    std::printf("#   %-40s spacing off by: median %.3f ms, p99 %.3f ms, max %.3f ms\n", what,
                f.medianMs, f.p99Ms, f.maxMs);
}

int benchRepeat(const QString &sim, const QString &work)
{
    Simulator simulator;
    if (!simulator.start(sim, {}, work + QStringLiteral("/repeat.log")))
        return 1;
    Panel panel(simulator.path());
    if (!panel.start())
        return 1;
    runFor(500);

    const Hold holds[] = {
        {"VOL + (Command1)", "Command1", "C09", 250, true},
        {"Zoom + (Command15)", "Command15", "C47", 50, true},
        {"arrow (Command8)", "Command8", "C3A", 5, false},
    };
    std::vector<HoldRun> runs;
    for (const Hold &h : holds) {
        if (h.intervalMs == 5) {
            // A D.Zoom press and release: the arrows then repeat every 5 ms.
            QTest::mouseClick(panel.button("Command48"), Qt::LeftButton);
            runFor(300);
        }
        runs.push_back(hold(panel, h, 5));
    }
    const std::vector<LogLine> log = simulator.stop();
    std::printf("# holds of 5 s (and half an interval), frames as the simulator took them\n");
    for (std::size_t i = 0; i < std::size(holds); ++i) {
        const Hold &h = holds[i];
        const HoldRun &run = runs[i];
        printRepeat(h.what, h.intervalMs,
                    repeatFigure(frameTimes(log, h.code), run.pressUs, run.releaseUs, h.intervalMs),
                    h.targeted);
        printSpacing("the panel's own ticks, as delivered:",
                     repeatFigure(run.ticks, run.pressUs, run.releaseUs, h.intervalMs));
        const auto line = latencyFigure(run.ticks, frameTimes(log, h.code));
        std::printf("#   %-40s median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    "from a tick to the frame at the far end:", line.medianMs, line.p99Ms,
                    line.maxMs);
    }
    printSpacing("this machine's floor (clock_nanosleep, 5 ms):", machineFloor(5, 1000));
    return 0;
}

int benchLatencyOn(const QString &sim, const QString &work, int presses, bool network);

// The same presses straight on the pseudo-terminal, then through a ser2net on 127.0.0.1 in
// front of a pseudo-terminal (rfc2217://), when ser2net is there.
int benchLatency(const QString &sim, const QString &work, int presses)
{
    if (const int status = benchLatencyOn(sim, work, presses, false))
        return status;
    if (!QFile::exists(QStringLiteral("/usr/sbin/ser2net"))) {
        std::printf("# latency through ser2net: not measured, /usr/sbin/ser2net is missing\n");
        return 0;
    }
    return benchLatencyOn(sim, work, presses, true);
}

int benchLatencyOn(const QString &sim, const QString &work, int presses, bool network)
{
    Simulator simulator;
    if (!simulator.start(sim, {}, work + QStringLiteral("/latency.log")))
        return 1;
    std::unique_ptr<Ser2NetRig> server;
    QString device = simulator.path();
    if (network) {
        server = std::make_unique<Ser2NetRig>(std::vector<Ser2NetRig::Connection>{
            {"telnet(rfc2217),tcp", simulator.path().toStdString()}});
        if (!server->start()) {
            std::fprintf(stderr, "bench_panel: ser2net did not start\n");
            return 1;
        }
        device = QString::fromStdString(server->url(0));
    }
    std::printf("# %s\n", network ? "through ser2net on 127.0.0.1 (rfc2217://)"
                                  : "straight on the pseudo-terminal");
    Panel panel(device);
    if (!panel.start())
        return 1;
    runFor(500);

    QWidget *volume = panel.button("Command1");
    QWidget *powerOn = panel.button("Command17");
    DeliveryStamps volumePresses(volume, QEvent::MouseButtonPress);
    // A click sends on the release of the mouse button.
    DeliveryStamps powerClicks(powerOn, QEvent::MouseButtonRelease);
    std::vector<double> handledMs;
    for (int i = 0; i < presses; ++i) {
        QTest::mousePress(volume, Qt::LeftButton);
        handledMs.push_back(static_cast<double>(monotonicNowUs() - volumePresses.times().back()) /
                            1000.0);
        QTest::mouseRelease(volume, Qt::LeftButton);
        // The acknowledgement comes back and is shown before the next press.
        runFor(10);
    }
    for (int i = 0; i < presses; ++i) {
        QTest::mouseClick(powerOn, Qt::LeftButton);
        runFor(10);
    }
    runFor(200);
    const std::vector<LogLine> log = simulator.stop();

    const auto printLatency = [presses](const char *what, const LatencyFigure &f) {
        std::printf(
            "latency %-36s frames %4zu of %4d  median %.3f ms, p99 %.3f ms, max %.3f ms  "
            "[target: median under 1 ms: %s]\n",
            what, f.matched, presses, f.medianMs, f.p99Ms, f.maxMs, verdict(f.medianMs < 1.0));
    };
    std::printf(
        "# from the delivery of the mouse event to the frame's last byte read at the far "
        "end\n");
    printLatency("press on VOL + (Command1)",
                 latencyFigure(volumePresses.times(), frameTimes(log, "C09")));
    printLatency("click on POWER ON (Command17)",
                 latencyFigure(powerClicks.times(), frameTimes(log, "C00")));
    std::printf(
        "#   of which the press handler itself (to the frame written): median %.3f ms, "
        "p99 %.3f ms\n",
        percentile(handledMs, 0.5), percentile(handledMs, 0.99));
    return 0;
}

// Bytes of unasked text put on the line within [fromUs, toUs).
std::size_t unaskedBytes(const std::vector<LogLine> &log, std::int64_t fromUs, std::int64_t toUs)
{
    std::size_t bytes = 0;
    for (const LogLine &line : log) {
        if (line.kind != "UNASKED" || line.timeUs < fromUs || line.timeUs >= toUs)
            continue;
        if (const auto text = unescapeBytes(line.rest))
            bytes += text->size();
    }
    return bytes;
}

struct FloodWindow {
    std::int64_t fromUs = 0;
    std::int64_t toUs = 0;
    double cpuPercent = 0;
    bool probed = false;
    std::int64_t longestStallUs = 0;
    std::size_t probeTicks = 0;
    std::size_t stallsOver2ms = 0;
    std::int64_t floorUs = -1;
};

// CPU use of the panel's process over a stretch of time, and with the probe on, the longest
// stall of its event loop.
FloodWindow measureWindow(int seconds, bool probed)
{
    StallProbe probe;
    FloorProbe floor;
    FloodWindow window;
    window.probed = probed;
    if (probed)
        floor.start(seconds * 1000);
    const std::int64_t cpu0 = cpuTimeUs();
    window.fromUs = monotonicNowUs();
    if (probed)
        probe.start();
    runFor(seconds * 1000);
    probe.stop();
    if (probed)
        window.floorUs = floor.finishUs();
    window.toUs = monotonicNowUs();
    window.cpuPercent = 100.0 * static_cast<double>(cpuTimeUs() - cpu0) /
                        static_cast<double>(window.toUs - window.fromUs);
    window.longestStallUs = probe.longestUs();
    window.probeTicks = probe.ticks();
    window.stallsOver2ms = probe.lateBeyond(2000);
    return window;
}

void printFlood(const char *what, const FloodWindow &w, const std::vector<LogLine> &log)
{
    const double seconds = static_cast<double>(w.toUs - w.fromUs) / 1e6;
    std::printf("flood   %-34s %2.0f s, %.0f bytes/s unasked  CPU %5.2f %% of a core", what,
                seconds, static_cast<double>(unaskedBytes(log, w.fromUs, w.toUs)) / seconds,
                w.cpuPercent);
    if (w.probed)
        std::printf(
            "  longest stall %.3f ms [target: none over 10 ms: %s] (%zu ticks, %zu late by "
            "over 2 ms; the floor, a bare 1 ms clock_nanosleep loop beside it: %.3f ms)\n",
            w.longestStallUs / 1000.0, verdict(w.longestStallUs <= 10000), w.probeTicks,
            w.stallsOver2ms, w.floorUs / 1000.0);
    else
        std::printf("  [target: under 5 %%: %s]\n", verdict(w.cpuPercent < 5.0));
}

int benchFlood(const QString &sim, const QString &work, int seconds)
{
    // What the probe costs on its own, on an event loop with nothing else to do.
    const FloodWindow probeAlone = measureWindow(2, true);

    Simulator simulator;
    const QStringList flood{QStringLiteral("--unasked"), QString::fromLatin1(kFloodText),
                            QStringLiteral("--unasked-rate"), QString::fromLatin1(kFloodRate)};
    if (!simulator.start(sim, flood, work + QStringLiteral("/flood.log")))
        return 1;
    Panel panel(simulator.path());
    if (!panel.start())
        return 1;
    runFor(1000);

    const Hold zoom{"Zoom + (Command15)", "Command15", "C47", 50, true};
    QWidget *button = panel.button(zoom.button);
    panel.clock().stampTicks(true);
    const std::int64_t pressUs = monotonicNowUs();
    QTest::mousePress(button, Qt::LeftButton);
    // The CPU figure without the probe, whose own wake-ups would count in it; then the stalls.
    const FloodWindow held = measureWindow(seconds, false);
    const FloodWindow heldProbed = measureWindow(seconds, true);
    QTest::mouseRelease(button, Qt::LeftButton);
    const std::int64_t releaseUs = monotonicNowUs();
    panel.clock().stampTicks(false);
    const std::vector<std::int64_t> ticks = panel.clock().ticks();
    runFor(300);
    // Nothing held: no send empties the receive buffer, which fills up to its bound in 17 s:
    // 10 s without the probe, to some 19,000 characters, then with it.
    const FloodWindow unheldCpu = measureWindow(std::min(seconds, 10), false);
    const FloodWindow unheld = measureWindow(std::min(seconds, 20), true);
    const std::vector<LogLine> log = simulator.stop();

    std::printf(
        "# unasked text at the line's full speed (19200 baud) into the panel in its full "
        "view; CPU of the panel's process\n");
    printFlood("Zoom + held", held, log);
    printFlood("Zoom + held, with the 1 ms probe", heldProbed, log);
    printFlood("nothing held", unheldCpu, log);
    printFlood("nothing held, with the 1 ms probe", unheld, log);
    std::printf("#   the probe alone: CPU %.2f %% of a core, longest stall %.3f ms\n",
                probeAlone.cpuPercent, probeAlone.longestStallUs / 1000.0);
    printRepeat("Zoom + in the flood", zoom.intervalMs,
                repeatFigure(frameTimes(log, zoom.code), pressUs, releaseUs, zoom.intervalMs),
                true);
    // Which part of the spacing is the panel's: its own ticks, then the way to the far end.
    printSpacing("the panel's own ticks, as delivered:",
                 repeatFigure(ticks, pressUs, releaseUs, zoom.intervalMs));
    const auto line = latencyFigure(ticks, frameTimes(log, zoom.code));
    std::printf("#   %-40s median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                "from a tick to the frame at the far end:", line.medianMs, line.p99Ms, line.maxMs);
    std::printf("#   frames the panel dropped for a full output buffer: %llu\n",
                static_cast<unsigned long long>(panel.comm().droppedFrames()));
    return 0;
}

int usageError()
{
    std::fprintf(stderr,
                 "usage: bench_panel repeat|latency|flood [--sim PROJECTOR_SIM] [--work DIR] "
                 "[--presses N] [--seconds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char *argv[])
{
    // The offscreen platform unless told otherwise: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usageError();
    const QString figure = args.takeFirst();
    QString sim = QStringLiteral(PROJECTOR_SIM);
    QString work;
    int presses = 1000;
    int seconds = 30;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (args.isEmpty())
            return usageError();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--sim"))
            sim = value;
        else if (option == QLatin1String("--work"))
            work = value;
        else if (option == QLatin1String("--presses"))
            presses = value.toInt();
        else if (option == QLatin1String("--seconds"))
            seconds = value.toInt();
        else
            return usageError();
    }
    QTemporaryDir temporary;
    if (work.isEmpty())
        work = temporary.path();
    QDir().mkpath(work);

    if (figure == QLatin1String("repeat"))
        return benchRepeat(sim, work);
    if (figure == QLatin1String("latency"))
        return benchLatency(sim, work, std::max(presses, 1));
    if (figure == QLatin1String("flood"))
        return benchFlood(sim, work, std::max(seconds, 1));
    return usageError();
}
