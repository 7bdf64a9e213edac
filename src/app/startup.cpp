#include "startup.h"

#include <QCommandLineParser>
#include <QObject>

StartupRequest parseCommandLine(const QStringList &arguments, const QString &version)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QObject::tr("Claude Code's context, token and plan quota use on a small instrument panel."));
    // Qt's single-dash options (-reverse, -platform) are whole words, never bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.parse(arguments);

    if (parser.isSet(help))
        return {StartupRequest::Action::printText, parser.helpText()};
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
