#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/endsignals.h"
#include "app/usageerror.h"
#include "app/version.h"
#include "core/pjlink/pjlinkconfig.h"
#include "qt/pjlinkdigest.h"
#include "qt/pjlinkgateway.h"
#include "qt/qtclock.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr const char *kDefaultConfig = "/etc/koru-pjlink.conf";

constexpr const char *kUsage =
    "Usage: koru-pjlink [--config FILE]\n"
    "       koru-pjlink --line PATH|URL [--speed 19200|9600] [--address single|001..004]\n"
    "                   [--listen HOST:PORT] [--password-file FILE]\n"
    "\n"
    "Makes each projector on a serial line answer PJLink Class 1 on TCP.\n"
    "\n"
    "  --config FILE         the projectors and their lines (default /etc/koru-pjlink.conf)\n"
    "  --line PATH|URL       one projector on this line: a device, rfc2217://HOST:PORT or\n"
    "                        tcp://HOST:PORT\n"
    "  --speed N             the line's speed, 19200 (default) or 9600\n"
    "  --address A           single (default), or 001 to 004 on a chain\n"
    "  --listen HOST:PORT    where PJLink clients connect (default 0.0.0.0:4352)\n"
    "  --password-file FILE  the PJLink password, the file's first line\n"
    "  --help, -V, --version\n";

struct Options {
    std::string config;
    PjlinkEndpoint single;
    std::string listen = "0.0.0.0:4352";
    std::string passwordFile;
    bool help = false;
    bool version = false;
    std::string error;
};

Options parse(const QStringList &arguments)
{
    Options options;
    bool oneProjector = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments[i];
        if (option == QLatin1String("--help")) {
            options.help = true;
            continue;
        }
        if (option == QLatin1String("--version") || option == QLatin1String("-V")) {
            options.version = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            options.error = option.toStdString() + " is unknown or needs a value";
            return options;
        }
        const std::string value = arguments[++i].toStdString();
        if (option == QLatin1String("--config")) {
            options.config = value;
            continue;
        }
        oneProjector = true;
        if (option == QLatin1String("--line")) {
            options.single.line = value;
        } else if (option == QLatin1String("--speed")) {
            options.single.speed = value == "9600" ? 9600 : value == "19200" ? 19200 : 0;
        } else if (option == QLatin1String("--address")) {
            options.single.address = value;
        } else if (option == QLatin1String("--listen")) {
            options.listen = value;
        } else if (option == QLatin1String("--password-file")) {
            options.passwordFile = value;
        } else {
            options.error = "unknown option " + option.toStdString();
            return options;
        }
    }
    if (oneProjector && !options.config.empty())
        options.error = "--config and the options of one projector do not go together";
    else if (oneProjector && options.single.line.empty())
        options.error = "one projector needs its --line";
    return options;
}

std::string readFile(const std::string &path, std::string *error)
{
    QFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + ": " + file.errorString().toStdString();
        return {};
    }
    return file.readAll().toStdString();
}

}  // namespace

int main(int argc, char *argv[])
{
    // A client that goes away while its reply is written must not end the gateway.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("koru-pjlink"));
    Options options = parse(QCoreApplication::arguments());
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("koru-pjlink %s\n", kVersion);
        return 0;
    }
    if (!options.error.empty()) {
        std::fputs(usageError("koru-pjlink", options.error).c_str(), stderr);
        return kUsageError;
    }

    std::vector<PjlinkEndpoint> endpoints;
    std::string error;
    if (!options.single.line.empty()) {
        if (auto wrong = checkPjlinkEndpoint(options.single, options.listen)) {
            std::fprintf(stderr, "koru-pjlink: %s\n", wrong->c_str());
            return kUsageError;
        }
        if (!options.passwordFile.empty()) {
            std::string password = readFile(options.passwordFile, &error);
            password.resize(std::min(password.size(), password.find_first_of("\r\n")));
            if (error.empty()) {
                if (auto wrong = checkPjlinkPassword(password))
                    error = options.passwordFile + ": the first line's " + *wrong;
            }
            if (!error.empty()) {
                std::fprintf(stderr, "koru-pjlink: %s\n", error.c_str());
                return kFailed;
            }
            options.single.projector.password = password;
        }
        endpoints.push_back(options.single);
    } else {
        const std::string path = options.config.empty() ? kDefaultConfig : options.config;
        const std::string text = readFile(path, &error);
        if (!error.empty()) {
            std::fprintf(stderr, "koru-pjlink: cannot read %s\n", error.c_str());
            return kFailed;
        }
        PjlinkConfig config = parsePjlinkConfig(text, path);
        if (!config.error.empty()) {
            std::fprintf(stderr, "koru-pjlink: %s\n", config.error.c_str());
            return kFailed;
        }
        endpoints = std::move(config.endpoints);
    }

    // Ended by a signal, the event loop returns and every port is closed on the way out,
    // which releases its lock for the next program.
    int endSignal = 0;
    if (!watchEndSignals(&app, [&endSignal](int number) {
            endSignal = number;
            QCoreApplication::exit(128 + number);
        })) {
        std::perror("koru-pjlink: cannot watch for signals");
        return kFailed;
    }

    QtClock clock;
    const PjlinkAuthentication authentication{[] { return QRandomGenerator::system()->generate(); },
                                              pjlinkMd5Hex};
    std::map<std::string, std::unique_ptr<GatewayLine>> lines;
    std::vector<std::unique_ptr<PjlinkEndpointServer>> servers;
    for (const PjlinkEndpoint &endpoint : endpoints) {
        auto &line = lines[endpoint.line];
        if (!line) {
            line = std::make_unique<GatewayLine>(endpoint.line, endpoint.speed, clock, clock);
            line->open();
        }
        servers.push_back(
            std::make_unique<PjlinkEndpointServer>(endpoint, *line, clock, authentication));
        if (auto wrong = servers.back()->listen()) {
            std::fprintf(stderr, "koru-pjlink: %s\n", wrong->c_str());
            return kFailed;
        }
        std::fprintf(stderr, "koru-pjlink: listening on %s:%d for %s on %s\n",
                     endpoint.listenHost.c_str(), endpoint.listenPort, endpoint.address.c_str(),
                     endpoint.line.c_str());
    }
    const int status = QCoreApplication::exec();
    servers.clear();
    lines.clear();
    return endSignal ? 128 + endSignal : status;
}
