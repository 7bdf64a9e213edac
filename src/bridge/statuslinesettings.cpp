#include "statuslinesettings.h"

#include "claudedatadir.h"
#include "fileaccess.h"
#include "privatefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstring>
#include <optional>

namespace {

const QString statusLineKey = QStringLiteral("statusLine");
constexpr qint64 maxSettingsFile = 16 * 1024 * 1024;

// Where one member of a JSON object sits in the file's bytes: key from its opening quote to
// after its closing one, value from its first byte to after its last.
struct JsonMember
{
    qsizetype keyStart = 0;
    qsizetype keyEnd = 0;
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0;
    QString key;
};

// The members of the object opening at `open`. The bytes must already be known valid JSON,
// so only the token boundaries need finding.
class ObjectScanner
{
public:
    explicit ObjectScanner(const QByteArray &bytes) : m_bytes(bytes) { }

    QList<JsonMember> members(qsizetype open) const
    {
        QList<JsonMember> found;
        qsizetype i = skipSpace(open + 1);
        while (i < m_bytes.size() && m_bytes[i] == '"') {
            JsonMember member;
            member.keyStart = i;
            member.keyEnd = stringEnd(i);
            member.key = decodedString(m_bytes.mid(i, member.keyEnd - i));
            member.valueStart = skipSpace(skipSpace(member.keyEnd) + 1); // past the colon
            member.valueEnd = valueEnd(member.valueStart);
            found.append(member);
            i = skipSpace(member.valueEnd);
            if (i < m_bytes.size() && m_bytes[i] == ',')
                i = skipSpace(i + 1);
        }
        return found;
    }

    qsizetype skipSpace(qsizetype i) const
    {
        while (i < m_bytes.size() && std::strchr(" \t\r\n", m_bytes[i]) && m_bytes[i] != '\0')
            ++i;
        return i;
    }

private:
    qsizetype stringEnd(qsizetype quote) const
    {
        for (qsizetype i = quote + 1; i < m_bytes.size(); ++i) {
            if (m_bytes[i] == '\\')
                ++i;
            else if (m_bytes[i] == '"')
                return i + 1;
        }
        return m_bytes.size();
    }

    qsizetype valueEnd(qsizetype i) const
    {
        if (i >= m_bytes.size())
            return i;
        if (m_bytes[i] == '"')
            return stringEnd(i);
        if (m_bytes[i] == '{' || m_bytes[i] == '[') {
            int depth = 0;
            while (i < m_bytes.size()) {
                const char c = m_bytes[i];
                if (c == '"') {
                    i = stringEnd(i);
                    continue;
                }
                if (c == '{' || c == '[')
                    ++depth;
                else if ((c == '}' || c == ']') && --depth == 0)
                    return i + 1;
                ++i;
            }
            return i;
        }
        while (i < m_bytes.size() && !std::strchr(",}] \t\r\n", m_bytes[i]))
            ++i;
        return i;
    }

    static QString decodedString(const QByteArray &token)
    {
        if (!token.contains('\\'))
            return QString::fromUtf8(token.mid(1, token.size() - 2));
        return QJsonDocument::fromJson('[' + token + ']').array().at(0).toString();
    }

    const QByteArray &m_bytes;
};

// Any JSON value's bytes as a value.
QJsonValue parsedValue(const QByteArray &raw)
{
    return QJsonDocument::fromJson('[' + raw + ']').array().at(0);
}

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QString singleQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

// The first word of a shell command with its quotes taken off (enough to recognise a program).
QString firstWord(const QString &command)
{
    const QString trimmed = command.trimmed();
    if (trimmed.startsWith(u'\'') || trimmed.startsWith(u'"')) {
        const qsizetype end = trimmed.indexOf(trimmed.front(), 1);
        return trimmed.mid(1, end < 0 ? -1 : end - 1);
    }
    const qsizetype space = trimmed.indexOf(QRegularExpression(QStringLiteral("\\s")));
    return space < 0 ? trimmed : trimmed.left(space);
}

// One shell word as the shell reads it: quotes and backslashes resolved, ended by a blank.
QString shellWord(QStringView text)
{
    QString word;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\'') {
            const qsizetype end = text.indexOf(u'\'', i + 1);
            word += text.mid(i + 1, (end < 0 ? text.size() : end) - i - 1);
            i = end < 0 ? text.size() : end;
        } else if (c == u'\\' && i + 1 < text.size()) {
            word += text[++i];
        } else if (c.isSpace()) {
            break;
        } else {
            word += c;
        }
    }
    return word;
}

QString commandOf(const QJsonValue &statusLine)
{
    return statusLine.toObject().value(QLatin1String("command")).toString();
}

// The settings file as it is now, or why it may not be edited.
struct SettingsFile
{
    bool exists = false;
    QByteArray bytes;
    qsizetype open = 0; // the top-level object's opening brace
    QList<JsonMember> members;
    QString error;

    const JsonMember *statusLine() const
    {
        // A repeated key counts as its last occurrence, as JavaScript reads it.
        for (qsizetype i = members.size() - 1; i >= 0; --i)
            if (members[i].key == statusLineKey)
                return &members[i];
        return nullptr;
    }
    QByteArray raw(const JsonMember &member) const
    {
        return bytes.mid(member.valueStart, member.valueEnd - member.valueStart);
    }
};

SettingsFile readSettings(const QString &path, bool forWriting = true)
{
    SettingsFile file;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return file;
    file.exists = true;
    const std::optional<FileStatus> status = fileStatus(path);
    if (!status || !status->regular) {
        file.error = QStringLiteral("%1 is not a regular file; it was left untouched").arg(path);
        return file;
    }
    if (forWriting && !info.isWritable()) {
        file.error = QStringLiteral("%1 is not writable; it was left untouched").arg(path);
        return file;
    }
    const std::optional<QByteArray> bytes = readRegularFile(path, maxSettingsFile);
    if (!bytes) {
        file.error = QStringLiteral("Cannot read %1; it was left untouched").arg(path);
        return file;
    }
    file.bytes = *bytes;
    const qsizetype start = file.bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (!QJsonDocument::fromJson(file.bytes.mid(start)).isObject()) {
        file.error = QStringLiteral("%1 is not valid JSON (or not a JSON object); it was left untouched").arg(path);
        return file;
    }
    const ObjectScanner scanner(file.bytes);
    file.open = scanner.skipSpace(start);
    file.members = scanner.members(file.open);
    return file;
}

// The record of previous members, one per settings file: {"<settings path>": {"previous": raw or null}}.
QJsonObject readRecord(const QString &recordPath)
{
    return QJsonDocument::fromJson(readRegularFile(recordPath, maxSettingsFile).value_or(QByteArray())).object();
}

QString writeRecord(const QString &recordPath, const QJsonObject &record)
{
    if (!QDir().mkpath(QFileInfo(recordPath).absolutePath()))
        return QStringLiteral("Cannot create %1").arg(QFileInfo(recordPath).absolutePath());
    return writeFileAtomically(recordPath, QJsonDocument(record).toJson(), 0600, true);
}

QString settingsKey(const QString &settingsPath)
{
    const QString canonical = QFileInfo(settingsPath).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(settingsPath).absoluteFilePath()) : canonical;
}

// A status line object running `command`, keeping every other member of the object at `member`
// (padding, refreshInterval, and any this version does not know) byte for byte.
QByteArray commandEntry(const QString &command, const SettingsFile &file, const JsonMember *member)
{
    QByteArray entry = "{\"type\": \"command\", \"command\": " + jsonString(command);
    if (member && file.bytes.at(member->valueStart) == '{') {
        for (const JsonMember &kept : ObjectScanner(file.bytes).members(member->valueStart)) {
            if (kept.key != QLatin1String("type") && kept.key != QLatin1String("command"))
                entry += ", " + file.bytes.mid(kept.keyStart, kept.valueEnd - kept.keyStart);
        }
    }
    return entry + '}';
}

} // namespace

QString shellQuoted(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    return plain.match(text).hasMatch() ? text : singleQuoted(text);
}

bool runsStatusLineBridge(const QString &command)
{
    return QFileInfo(firstWord(command)).fileName() == QLatin1String("glimmerox-statusline");
}

StatusLineSettings::StatusLineSettings(QString settingsPath, QString recordPath, QString bridgePath)
    : m_settingsPath(std::move(settingsPath)), m_recordPath(std::move(recordPath)), m_bridgePath(std::move(bridgePath))
{
}

StatusLineSettings StatusLineSettings::forCurrentUser(const QString &bridgePath)
{
    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return StatusLineSettings(claudeDataDirectory() + QStringLiteral("/settings.json"),
                              configFolder + QStringLiteral("/glimmerox/statusline.json"), bridgePath);
}

bool StatusLineSettings::isInstalled() const
{
    // A read-only file (one a configuration manager keeps) can still run the bridge.
    const SettingsFile file = readSettings(m_settingsPath, false);
    const JsonMember *member = file.error.isEmpty() ? file.statusLine() : nullptr;
    return member && runsStatusLineBridge(commandOf(parsedValue(file.raw(*member))));
}

SettingsEditResult StatusLineSettings::install() const
{
    const SettingsFile file = readSettings(m_settingsPath);
    if (!file.error.isEmpty())
        return {false, file.error};
    const JsonMember *member = file.statusLine();
    const QJsonValue previous = member ? parsedValue(file.raw(*member)) : QJsonValue();
    if (runsStatusLineBridge(commandOf(previous)))
        return {true, QStringLiteral("Glimmerox's status line is already set in %1").arg(m_settingsPath)};

    // Our command first, chaining the previous one.
    const QString previousCommand = commandOf(previous);
    QString command = shellQuoted(m_bridgePath);
    if (!previousCommand.isEmpty())
        command += QStringLiteral(" --then ") + singleQuoted(previousCommand);
    const QByteArray entry = commandEntry(command, file, member);

    QByteArray edited;
    if (!file.exists) {
        edited = "{\"statusLine\": " + entry + "}\n";
    } else if (member) {
        edited = file.bytes;
        edited.replace(member->valueStart, member->valueEnd - member->valueStart, entry);
    } else if (file.members.isEmpty()) {
        edited = file.bytes;
        edited.insert(file.open + 1, "\"statusLine\": " + entry);
    } else {
        // After the last member, spaced like the one before it.
        const JsonMember &last = file.members.back();
        const qsizetype count = file.members.size();
        const qsizetype gapStart = count > 1 ? file.members[count - 2].valueEnd : file.open + 1;
        QByteArray gap = file.bytes.mid(gapStart, last.keyStart - gapStart);
        gap.remove(0, gap.lastIndexOf(',') + 1);
        edited = file.bytes;
        edited.insert(last.valueEnd, ',' + gap + "\"statusLine\": " + entry);
    }

    QJsonObject record = readRecord(m_recordPath);
    record.insert(settingsKey(m_settingsPath),
                  QJsonObject{{QStringLiteral("previous"),
                               member ? QJsonValue(QString::fromUtf8(file.raw(*member))) : QJsonValue()}});
    if (const QString failure = writeRecord(m_recordPath, record); !failure.isEmpty())
        return {false, QStringLiteral("%1; %2 was left untouched").arg(failure, m_settingsPath)};
    if (!file.exists && !QDir().mkpath(QFileInfo(m_settingsPath).absolutePath()))
        return {false, QStringLiteral("Cannot create %1").arg(QFileInfo(m_settingsPath).absolutePath())};
    const int mode = file.exists ? filePermissions(m_settingsPath) : 0600;
    if (const QString failure = writeFileAtomically(m_settingsPath, edited, mode < 0 ? 0600 : mode, true);
        !failure.isEmpty())
        return {false, failure};
    return {true, previousCommand.isEmpty()
                      ? QStringLiteral("Glimmerox's status line is set in %1").arg(m_settingsPath)
                      : QStringLiteral("Glimmerox's status line is set in %1, running the previous one after it")
                            .arg(m_settingsPath)};
}

SettingsEditResult StatusLineSettings::uninstall() const
{
    const SettingsFile file = readSettings(m_settingsPath);
    if (!file.error.isEmpty())
        return {false, file.error};
    const JsonMember *member = file.statusLine();
    const QString current = member ? commandOf(parsedValue(file.raw(*member))) : QString();
    if (!runsStatusLineBridge(current))
        return {true, QStringLiteral("Glimmerox's status line is not set in %1").arg(m_settingsPath)};

    // The member as it was before installing. Without a record, or with one that no longer
    // matches the chained command (edited since), it is rebuilt from the chained command.
    const qsizetype then = current.indexOf(QLatin1String(" --then "));
    const QString chained = then < 0 ? QString() : shellWord(QStringView(current).mid(then + 8).trimmed());
    QJsonObject record = readRecord(m_recordPath);
    const QString key = settingsKey(m_settingsPath);
    const QJsonValue kept = record.value(key).toObject().value(QLatin1String("previous"));
    const bool recordMatches = record.contains(key) && (kept.isNull() || kept.isString())
        && commandOf(kept.isString() ? parsedValue(kept.toString().toUtf8()) : QJsonValue()) == chained;
    std::optional<QByteArray> previous;
    if (recordMatches && kept.isString())
        previous = kept.toString().toUtf8();
    else if (!recordMatches && !chained.isEmpty())
        previous = commandEntry(chained, file, member);

    QByteArray edited = file.bytes;
    if (previous) {
        edited.replace(member->valueStart, member->valueEnd - member->valueStart, *previous);
    } else {
        // Exactly what installing added: from the end of the member before it, or the member alone.
        const qsizetype index = member - file.members.constData();
        const qsizetype from = index > 0 ? file.members[index - 1].valueEnd : member->keyStart;
        const qsizetype to = index == 0 && file.members.size() > 1 ? file.members[1].keyStart : member->valueEnd;
        edited.remove(from, to - from);
    }
    const int mode = filePermissions(m_settingsPath);
    if (const QString failure = writeFileAtomically(m_settingsPath, edited, mode < 0 ? 0600 : mode, true);
        !failure.isEmpty())
        return {false, failure};
    record.remove(key);
    writeRecord(m_recordPath, record); // a stale record is harmless: the next install replaces it
    return {true, previous ? QStringLiteral("Glimmerox's status line is removed from %1; the previous one is back")
                                 .arg(m_settingsPath)
                           : QStringLiteral("Glimmerox's status line is removed from %1").arg(m_settingsPath)};
}
