#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "app/endsignals.h"
#include "app/usageerror.h"
#include "app/version.h"
#include "core/ctl/commandrunner.h"
#include "core/ctl/ctloptions.h"
#include "core/ctl/ctloutput.h"
#include "qt/portsettingsfile.h"
#include "qt/programline.h"
#include "qt/qtclock.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kPortError = 3;

// A standard descriptor that was closed would be the next one opened: the serial device could
// become standard output. Each is held by /dev/null instead, standard output opened for
// reading only, so that writing the results fails as it would have on the closed descriptor.
void holdStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", (fd == 2 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

// Writes to standard output at once. A script reads what it prints, so a result that cannot
// be written (a full disk, a closed descriptor) is a failure: false, with the reason on
// standard error.
bool writeOut(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return true;
    const int error = errno;
    std::fprintf(stderr, "koru-ctl: cannot write to standard output: %s\n", std::strerror(error));
    return false;
}

// The date and time to the second with the offset from UTC (2026-12-09T07:00:01+01:00).
QString localTimeNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

void writeErr(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// A network port connects after setPortOpen has returned: this waits for the outcome. A
// program with no window has nothing else to do meanwhile.
class OpeningWait final : public SerialControl::Events {
public:
    explicit OpeningWait(SerialControl &port) : m_port(port) { m_port.setEvents(this); }
    ~OpeningWait() { m_port.setEvents(nullptr); }
    OpeningWait(const OpeningWait &) = delete;
    OpeningWait &operator=(const OpeningWait &) = delete;

    std::optional<SerialError> wait()
    {
        if (m_port.opening())
            m_loop.exec();
        return m_error;
    }

private:
    void received(std::string_view) override {}
    void lost() override { openFailed({SerialErrorCode::Other, "the connection was lost"}); }
    void opened() override { m_loop.quit(); }
    void openFailed(const SerialError &error) override
    {
        m_error = error;
        m_loop.quit();
    }

    SerialControl &m_port;
    QEventLoop m_loop;
    std::optional<SerialError> m_error;
};

}  // namespace

int main(int argc, char *argv[])
{
    holdStandardDescriptors();
    // A reader that has gone away (koru-ctl ... | head -0) makes a write fail with EPIPE, an
    // output error like any other, instead of killing koru-ctl with the port still locked.
    std::signal(SIGPIPE, SIG_IGN);
    const CtlOptions options = CtlOptions::parse(std::vector<std::string>(argv, argv + argc));
    switch (options.action) {
    case CtlOptions::Action::Help:
        return writeOut(ctlUsage()) ? 0 : kFailed;
    case CtlOptions::Action::Version:
        return writeOut("koru-ctl " + std::string(kVersion) + "\n") ? 0 : kFailed;
    case CtlOptions::Action::List:
        return writeOut(commandList()) ? 0 : kFailed;
    case CtlOptions::Action::Error:
        writeErr(usageError("koru-ctl", options.error));
        return kUsageError;
    case CtlOptions::Action::Run:
        break;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("koru-ctl"));

    // A signal ends the run as the panel's END does: the port is closed after the event loop,
    // which releases its lock file for the next program. Watched before the port is opened, so
    // a signal that comes while it opens is handled once an event loop runs.
    int endSignal = 0;
    CommandRunner *running = nullptr;
    if (!watchEndSignals(&app, [&](int number) {
            endSignal = number;
            if (running)
                running->stop();
            QCoreApplication::exit(128 + number);
        })) {
        std::perror("koru-ctl: cannot watch for signals");
        return kFailed;
    }

    // COM1 as the panel's settings file maps it, /dev/ttyS0 without one.
    DeviceMap devices = loadPortSettingsWarning("koru-ctl");
    devices.com1 = options.port.value_or(devices.com1);
    QtClock clock;
    ProgramLine line(devices, clock, options.logPath);
    SerialControl *port = &line.control();
    port->setCommPort(1);
    if (!port->setSettings(std::to_string(options.baud) + ",N,8,1"))
        return kUsageError;
    std::optional<SerialError> error = port->setPortOpen(true);
    if (!error)
        error = OpeningWait(*port).wait();
    if (error) {
        writeErr("koru-ctl: " + error->description + "\n");
        return kPortError;
    }
    if (endSignal) {
        port->closePort();
        return 128 + endSignal;
    }

    const auto steps = planCommands(options.commands, options.repeat);
    CommandRunner runner(*port, clock, options.idPrefix, options.timeoutMs);
    running = &runner;
    int status = 0;
    const auto report = [&](const CtlResult &result) {
        const CtlText text =
            formatResult(result, options.json, options.verbose,
                         options.timestamp ? localTimeNow().toStdString() : std::string());
        writeErr(text.err);
        if (!writeOut(text.out)) {
            runner.stop();
            status = kFailed;
            QCoreApplication::exit(status);
        }
    };
    // Started from the event loop, so that replies and time-outs arrive through it.
    QTimer::singleShot(0, &app, [&] {
        runner.run(*steps, report, [&status](int exitStatus) {
            status = exitStatus;
            QCoreApplication::exit(exitStatus);
        });
    });
    QCoreApplication::exec();
    running = nullptr;
    port->closePort();
    return endSignal ? 128 + endSignal : status;
}
