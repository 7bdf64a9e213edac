#include "startup.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QObject>

#include <algorithm>

StartupRequest parseCommandLine(const QStringList &arguments, const QString &version)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QObject::tr("Claude Code's context, token and plan quota use on a small instrument panel."));
    // Qt's single-dash options (-reverse, -platform) are whole words, never bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // The help option by hand: addHelpOption() would also offer --help-all, which needs an
    // application object to answer.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QObject::tr("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.parse(arguments);

    if (parser.isSet(help)) {
        // Without an application object the parser cannot know the program's name.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QFileInfo(arguments.value(0)).fileName());
        return {StartupRequest::Action::printText, text};
    }
    if (parser.isSet(versionOption))
        return {StartupRequest::Action::printText, QStringLiteral("Glimmerox %1\n").arg(version)};
    return {};
}

std::optional<QByteArray> preferredPlatform(const QProcessEnvironment &environment)
{
    const auto isSet = [&](const QString &name) { return !environment.value(name).isEmpty(); };
    if (isSet(QStringLiteral("QT_QPA_PLATFORM")))
        return std::nullopt;
    if (isSet(QStringLiteral("WAYLAND_DISPLAY")) && isSet(QStringLiteral("DISPLAY")))
        return QByteArrayLiteral("xcb");
    return std::nullopt;
}

bool hasDisplay(const QProcessEnvironment &environment, const QStringList &arguments)
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    return true; // the window server is always there
#endif
    const auto isSet = [&](const QString &name) { return !environment.value(name).isEmpty(); };
    QString platforms = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == u"-platform" || arguments.at(i) == u"--platform")
            platforms = arguments.at(i + 1);
    }
    const QStringList candidates = platforms.split(u';', Qt::SkipEmptyParts);
    if (candidates.isEmpty())
        return isSet(QStringLiteral("DISPLAY")) || isSet(QStringLiteral("WAYLAND_DISPLAY"));
    // Qt tries the listed platforms in turn; one that finds its display is enough.
    return std::any_of(candidates.cbegin(), candidates.cend(), [&](const QString &candidate) {
        const QString name = candidate.section(u':', 0, 0).trimmed(); // "xcb:option=value"
        if (name == u"xcb")
            return isSet(QStringLiteral("DISPLAY"));
        if (name.startsWith(u"wayland"))
            return isSet(QStringLiteral("WAYLAND_DISPLAY"));
        return true;
    });
}
