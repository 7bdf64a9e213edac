// glimmerox-statusline: Claude Code's status line command. Records the figures Claude Code hands
// over for the panel, then runs the user's own status line command (--then) or prints a line of
// its own. Whatever fails on its side, the user's status line still appears.

#include "bridgelog.h"
#include "claudedatadir.h"
#include "historystore.h"
#include "ownprocess.h"
#include "payloadinput.h"
#include "samplehistory.h"
#include "samplestore.h"
#include "shellcommand.h"
#include "statuslinesample.h"
#include "statuslinesettings.h"

#include <QDir>

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <unistd.h>

namespace {

constexpr char usageText[] =
    "usage: glimmerox-statusline [--then 'SHELL COMMAND']\n"
    "       glimmerox-statusline --install | --uninstall\n"
    "Claude Code's status line command: records the session and plan figures for Glimmerox's panel,\n"
    "then runs the chained command with the same input, or prints a line of its own.\n"
    "--install and --uninstall set and remove it in Claude Code's user settings.\n";

struct Arguments
{
    enum class Action { record, install, uninstall, help };
    Action action = Action::record;
    std::optional<QByteArray> then;
};

// Unknown arguments are ignored: a status line must never fail over its command line.
Arguments parseArguments(int argc, char **argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--then") == 0 && i + 1 < argc)
            arguments.then = QByteArray(argv[++i]);
        else if (std::strcmp(argv[i], "--install") == 0)
            arguments.action = Arguments::Action::install;
        else if (std::strcmp(argv[i], "--uninstall") == 0)
            arguments.action = Arguments::Action::uninstall;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            arguments.action = Arguments::Action::help;
    }
    return arguments;
}

// Claude Code shows what this process writes; only our own category may ever reach standard
// error, and only when it is switched on (Qt's own warnings included then).
void bridgeMessages(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (lcBridge().isDebugEnabled() || (context.category && std::strcmp(context.category, "glimmerox.bridge") == 0))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

std::optional<StatusLineSample> recordSample(const QByteArray &input)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString configDir = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    std::optional<StatusLineSample> sample = parseStatusLinePayload(input, now, configDir, QDir::homePath());
    if (!sample) {
        qCWarning(lcBridge) << "no sample: the payload of" << input.size() << "bytes is too large or not a JSON object";
        return std::nullopt;
    }
    // A payload cannot name a data directory into being: one that is not there counts as this
    // environment's own.
    if (!isPresentDataDirectory(sample->session.dataDirectory))
        sample->session.dataDirectory = claudeDataDirectory(QDir::homePath(), configDir);
    std::optional<DataDirectorySamples> standing;
    if (const QString failure = SampleStore(SampleStore::defaultFolder()).record(*sample, now, &standing);
        !failure.isEmpty())
        qCWarning(lcBridge).noquote() << "no sample:" << failure;
    if (const QString failure = recordSampleHistory(*sample, standing, HistoryStore::defaultFolder()); !failure.isEmpty())
        qCWarning(lcBridge).noquote() << "no history:" << failure;
    return sample;
}

int editSettings(bool install)
{
    const QString self = currentExecutablePath();
    if (self.isEmpty()) {
        std::fprintf(stderr, "glimmerox-statusline: cannot tell where this program is installed\n");
        return 1;
    }
    const StatusLineSettings settings = StatusLineSettings::forCurrentUser(self);
    const SettingsEditResult result = install ? settings.install() : settings.uninstall();
    std::fprintf(result.ok ? stdout : stderr, "%s\n", result.message.toUtf8().constData());
    return result.ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(bridgeMessages);
    const Arguments arguments = parseArguments(argc, argv);
    switch (arguments.action) {
    case Arguments::Action::help:
        std::fputs(usageText, stdout);
        return 0;
    case Arguments::Action::install:
    case Arguments::Action::uninstall:
        return editSettings(arguments.action == Arguments::Action::install);
    case Arguments::Action::record:
        break;
    }

    PayloadInput reader(STDIN_FILENO);
    const QByteArray input = reader.next();
    const auto record = [&reader, &input] {
        if (reader.isWhole())
            return recordSample(input);
        qCWarning(lcBridge) << "no sample: the payload is larger than" << PayloadInput::Limits().maxKept << "bytes";
        return std::optional<StatusLineSample>();
    };
    if (arguments.then) {
        // The chained command starts first and gets the input exactly as it came; the sample is
        // written while it runs.
        bool first = true;
        const auto nextInput = [&] {
            if (!std::exchange(first, false))
                return reader.next();
            return input;
        };
        const ShellCommandResult result = runShellCommand(*arguments.then, nextInput, [&record] { record(); });
        if (!result.error.isEmpty())
            qCWarning(lcBridge).noquote() << result.error;
        return result.exitStatus;
    }
    while (!reader.next().isEmpty()) { } // the rest of an oversized input, kept from no one
    const std::optional<StatusLineSample> sample = record();
    const QByteArray line = sample ? statusLineText(*sample, QDateTime::currentDateTimeUtc()).toUtf8() : QByteArray();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    return 0;
}
