#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <iostream>
#include <memory>

#include "app/version.h"
#include "core/ctl/commandrunner.h"
#include "core/ctl/ctloptions.h"
#include "core/ctl/ctloutput.h"
#include "qt/portsettingsfile.h"
#include "qt/programline.h"
#include "qt/qtclock.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kPortError = 3;

void print(const CtlOptions &options, const CtlResult &result)
{
    if (options.json) {
        std::cout << jsonLine(result) << '\n';
    } else {
        if (result.ok())
            std::cout << result.text << '\n';
        else if (result.error == "NAK")
            std::cout << "NAK\n";
        else
            std::cerr << "koru-ctl: " << result.command << ": " << result.error << '\n';
        if (options.verbose && !result.reply.empty())
            std::cout << escapeTraffic(result.reply) << '\n';
    }
    std::cout.flush();
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
    const CtlOptions options = CtlOptions::parse(std::vector<std::string>(argv, argv + argc));
    switch (options.action) {
    case CtlOptions::Action::Help:
        std::cout << ctlUsage();
        return 0;
    case CtlOptions::Action::Version:
        std::cout << "koru-ctl " << kFileVersion << '\n';
        return 0;
    case CtlOptions::Action::List:
        std::cout << commandList();
        return 0;
    case CtlOptions::Action::Error:
        std::cerr << "koru-ctl: " << options.error << "\n\n" << ctlUsage();
        return kUsageError;
    case CtlOptions::Action::Run:
        break;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("koru-ctl"));

    // COM1 as the panel's settings file maps it, /dev/ttyS0 without one.
    DeviceMap devices = loadPortSettings();
    devices.com1 = options.port.value_or(devices.com1);
    QtClock clock;
    ProgramLine line(devices, clock, QString::fromLocal8Bit(options.logPath));
    SerialControl *port = &line.control();
    port->setCommPort(1);
    if (!port->setSettings(std::to_string(options.baud) + ",N,8,1"))
        return kUsageError;
    std::optional<SerialError> error = port->setPortOpen(true);
    if (!error)
        error = OpeningWait(*port).wait();
    if (error) {
        std::cerr << "koru-ctl: " << error->description << '\n';
        return kPortError;
    }

    const auto steps = planCommands(options.commands, options.repeat);
    CommandRunner runner(*port, clock, options.idPrefix, options.timeoutMs);
    int status = 0;
    // Started from the event loop, so that replies and time-outs arrive through it.
    QTimer::singleShot(0, &app, [&] {
        runner.run(
            *steps, [&options](const CtlResult &result) { print(options, result); },
            [&status](int exitStatus) {
                status = exitStatus;
                QCoreApplication::exit(exitStatus);
            });
    });
    QCoreApplication::exec();
    port->closePort();
    return status;
}
