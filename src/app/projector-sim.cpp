// projector-sim: simulated projectors at the far end of a serial line, for trying and testing
// the panel without hardware. See docs/simulator.md.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <optional>

#include "app/endsignals.h"
#include "app/usageerror.h"
#include "app/version.h"
#include "os/logfile.h"
#include "sim/qt/projectorsimulator.h"
#include "sim/qt/simlogwriter.h"

namespace {

constexpr int kUsageError = 2;

struct Settings {
    SimulatorOptions simulator;
    QString device;
    bool anyDevice = false;
    int baud = 0;
    QString logPath;
};

struct OptionRow {
    const char *name;
    const char *valueName;  // nullptr for a flag
    const char *description;
};

// One row per option, in the order --help lists them.
constexpr OptionRow kOptions[] = {
    {"chain", "N", "Simulate a chain of N projectors, addresses 001 to N (1 to 4; default 1)."},
    {"device", "PATH", "Serve this device instead of a new pseudo-terminal."},
    {"any-device", nullptr,
     "Serve a --device that is not a terminal all the same (a file, a FIFO, /dev/null)."},
    {"baud", "BAUD", "Set this line speed on the line at start (the panel sets its own)."},
    {"delay", "MS", "Hold every reply for MS milliseconds."},
    {"silent", nullptr, "Take frames and act on them, but never reply."},
    {"byte-at-a-time", nullptr, "Write each byte of a reply on its own."},
    {"byte-gap", "MS", "Milliseconds between those bytes (default 10)."},
    {"unasked", "TEXT",
     "Send TEXT unasked, over and over (escapes \\r \\n \\t \\\\ \\xHH; default rate 10 B/s)."},
    {"unasked-rate", "BYTES_PER_S", "Rate of the unasked text in bytes a second."},
    {"pace", nullptr, "Read and write no faster than the line speed set on the line (8N1)."},
    {"log", "FILE", "Write the log to FILE instead of standard output."},
    {"countdown", "MS", "Length of the count down after power on (default 5000)."},
    {"cooling", "MS", "Length of the cooling down after power off (default 10000)."},
    {"lamp-hour", "MS", "Milliseconds on for each lamp hour (default 60000)."},
    {"lamp-hours", "N", "Lamp hours at start (default 1234)."},
    {"start-on", nullptr, "Start with the projectors on instead of in stand-by."},
    {"reversal", "MODE", "Picture reversal: normal, top-bottom, left-right or both."},
    {"model", "TEXT", "The model text of the PC type query (default KORU-SIM)."},
    {"signal", "INPUTS", "The inputs that carry a picture, e.g. 12 (default 12)."},
};

std::optional<long long> number(const QString &text, long long low, long long high)
{
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// Fills settings from the parsed options, or returns what is wrong with them.
QString readSettings(const QCommandLineParser &parser, Settings &settings)
{
    SimulatorOptions &options = settings.simulator;
    ProjectorSettings &projector = options.projector;
    const auto intOption = [&parser](const char *name, long long low, long long high,
                                     auto &target) -> QString {
        const QString key = QString::fromLatin1(name);
        if (!parser.isSet(key))
            return {};
        const auto value = number(parser.value(key), low, high);
        if (!value)
            return QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                .arg(key)
                .arg(low)
                .arg(high)
                .arg(parser.value(key));
        target = static_cast<std::remove_reference_t<decltype(target)>>(*value);
        return {};
    };
    constexpr long long kDay = 24LL * 3600 * 1000;
    for (const QString &error : {
             intOption("chain", 1, ProjectorChain::kMaxLength, options.chainLength),
             intOption("baud", 50, 4000000, settings.baud),
             intOption("delay", 0, kDay, options.replyDelayMs),
             intOption("byte-gap", 0, kDay, options.byteGapMs),
             intOption("countdown", 0, kDay, projector.countDownMs),
             intOption("cooling", 0, kDay, projector.coolingMs),
             intOption("lamp-hour", 1, kDay, projector.lampHourMs),
             intOption("lamp-hours", 0, 99999, projector.initialLampHours),
         }) {
        if (!error.isEmpty())
            return error;
    }
    options.silent = parser.isSet(QStringLiteral("silent"));
    options.byteAtATime = parser.isSet(QStringLiteral("byte-at-a-time"));
    options.pace = parser.isSet(QStringLiteral("pace"));
    projector.startOn = parser.isSet(QStringLiteral("start-on"));
    settings.device = parser.value(QStringLiteral("device"));
    settings.anyDevice = parser.isSet(QStringLiteral("any-device"));
    if (settings.anyDevice && settings.device.isEmpty())
        return QStringLiteral("--any-device goes with --device");
    settings.logPath = parser.value(QStringLiteral("log"));

    if (parser.isSet(QStringLiteral("unasked"))) {
        const auto text = unescapeBytes(parser.value(QStringLiteral("unasked")).toStdString());
        if (!text || text->empty())
            return QStringLiteral(
                "--unasked wants a text, with only the escapes \\r \\n \\t "
                "\\\\ and \\xHH");
        options.unasked = *text;
        options.unaskedRate = 10;
    }
    if (parser.isSet(QStringLiteral("unasked-rate"))) {
        bool ok = false;
        const double rate = parser.value(QStringLiteral("unasked-rate")).toDouble(&ok);
        // Below a byte in ten seconds the interval between bytes no longer fits the timer.
        if (!ok || !(rate >= 0.1) || rate > 1e6)
            return QStringLiteral("--unasked-rate wants bytes a second, from 0.1 to 1000000");
        options.unaskedRate = rate;
        if (options.unasked.empty())
            options.unasked = std::string(1, '*');  // GCC 12 misreads the literal (-Wrestrict)
    }
    if (parser.isSet(QStringLiteral("reversal"))) {
        const QString mode = parser.value(QStringLiteral("reversal"));
        if (mode == QLatin1String("normal"))
            projector.reversal = Reversal::Normal;
        else if (mode == QLatin1String("top-bottom"))
            projector.reversal = Reversal::TopBottom;
        else if (mode == QLatin1String("left-right"))
            projector.reversal = Reversal::LeftRight;
        else if (mode == QLatin1String("both"))
            projector.reversal = Reversal::Both;
        else
            return QStringLiteral("--reversal wants normal, top-bottom, left-right or both");
    }
    if (parser.isSet(QStringLiteral("model"))) {
        const QByteArray model = parser.value(QStringLiteral("model")).toLatin1();
        const bool printable =
            std::all_of(model.begin(), model.end(), [](char c) { return c >= ' ' && c <= 'z'; });
        if (model.isEmpty() || model.size() > 16 || !printable)
            return QStringLiteral("--model wants 1 to 16 characters from space to \"z\"");
        projector.modelName = model.toStdString();
    }
    if (parser.isSet(QStringLiteral("signal"))) {
        unsigned inputs = 0;
        for (const QChar c : parser.value(QStringLiteral("signal"))) {
            if (c < QLatin1Char('1') || c > QLatin1Char('3'))
                return QStringLiteral("--signal wants input numbers 1 to 3, e.g. 13");
            inputs |= 1u << (c.unicode() - '1');
        }
        projector.signalInputs = inputs;
    }
    return {};
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("projector-sim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated projectors on a serial line: prints the pseudo-terminal to open as the "
        "panel's port, answers the frames that arrive on it and logs the traffic."));
    const QCommandLineOption help = parser.addHelpOption();
    // -V, as in koru-panel and koru-ctl, where -v is koru-ctl's --verbose.
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    for (const OptionRow &row : kOptions) {
        QCommandLineOption option(QString::fromLatin1(row.name),
                                  QString::fromLatin1(row.description));
        if (row.valueName)
            option.setValueName(QString::fromLatin1(row.valueName));
        parser.addOption(option);
    }

    Settings settings;
    QString error;
    if (!parser.parse(QCoreApplication::arguments()))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error =
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().front());
    else if (!parser.isSet(help) && !parser.isSet(version))
        error = readSettings(parser, settings);
    if (!error.isEmpty()) {
        std::fputs(usageError("projector-sim", error.toStdString()).c_str(), stderr);
        return kUsageError;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("projector-sim %s\n", kVersion);
        return 0;
    }

    // The log opens without waiting: a FIFO that nobody reads is refused, not waited for.
    LogFile log(STDOUT_FILENO);
    const QString logName =
        settings.logPath.isEmpty() ? QStringLiteral("on standard output") : settings.logPath;
    if (!settings.logPath.isEmpty() && !log.open(QFile::encodeName(settings.logPath).toStdString()))
        std::fprintf(stderr,
                     "projector-sim: warning: cannot write the log %s: %s; traffic is not "
                     "logged\n",
                     qPrintable(settings.logPath), log.error().c_str());

    // The end signals end the event loop, so the log is written and the pseudo-terminal closed
    // on the way out. A log on a pipe whose reader has gone (projector-sim | head) and a device
    // whose far end has gone fail their writes with EPIPE, which the writers handle.
    if (!watchEndSignals(&app, [](int) { QCoreApplication::quit(); })) {
        std::perror("projector-sim: cannot watch for signals");
        return 1;
    }
    ProjectorSimulator simulator(settings.simulator);
    SimLogWriter writer(&simulator, &log, logName);
    const bool opened = settings.device.isEmpty()
                            ? simulator.openPty()
                            : simulator.openDevice(settings.device, settings.anyDevice);
    if (!opened) {
        std::fprintf(stderr, "projector-sim: %s\n", qPrintable(simulator.errorString()));
        return 1;
    }
    if (settings.baud > 0 && !simulator.setLineBaud(settings.baud)) {
        std::fprintf(stderr, "projector-sim: cannot set %d baud on %s\n", settings.baud,
                     qPrintable(simulator.slavePath()));
        return 1;
    }
    // Scripts wait for this line to know where to connect.
    std::printf("projector-sim: listening on %s\n", qPrintable(simulator.slavePath()));
    std::fflush(stdout);
    writer.writeHeader();

    const int status = QCoreApplication::exec();
    simulator.close();
    return status;
}
