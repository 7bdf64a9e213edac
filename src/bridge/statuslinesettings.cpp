#include "statuslinesettings.h"

#include "claudedatadir.h"
#include "fileaccess.h"
#include "privatefiles.h"
#include "bridgelog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstring>
#include <functional>
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

// The words of a simple shell command line as the shell reads them, quotes and backslashes
// resolved; `;`, `&`, `|` and their doubles come as words of their own. Enough to take apart the
// commands install writes, and old ones written by hand.
QStringList shellWords(QStringView text)
{
    QStringList words;
    QString word;
    bool inWord = false;
    const auto endWord = [&] {
        if (inWord)
            words << word;
        word.clear();
        inWord = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\'') {
            const qsizetype end = text.indexOf(u'\'', i + 1);
            word += text.mid(i + 1, (end < 0 ? text.size() : end) - i - 1);
            i = end < 0 ? text.size() : end;
            inWord = true;
        } else if (c == u'"') {
            for (++i; i < text.size() && text[i] != u'"'; ++i) {
                if (text[i] == u'\\' && i + 1 < text.size() && QStringView(u"$`\"\\\n").contains(text[i + 1]))
                    ++i;
                word += text[i];
            }
            inWord = true;
        } else if (c == u'\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else if (c == u';' || c == u'&' || c == u'|') {
            endWord();
            const bool doubled = i + 1 < text.size() && text[i + 1] == c && c != u';';
            words << QString(doubled ? 2 : 1, c);
            i += doubled ? 1 : 0;
        } else if (c.isSpace()) {
            endWord();
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    return words;
}

// A status line command that runs the bridge, taken apart.
struct BridgeCommand
{
    QString bridgePath;
    QString then; // the chained command; empty when none
    // Exactly as earlier versions wrote it (so that rewriting it changes nothing but the form; a
    // command written by hand, with a `~` or a variable, say, is left as it is).
    bool olderForm = false;
};

// The command install writes. Claude Code runs it through a POSIX shell; it `exec`s the bridge
// so that what Claude Code sends the shell reaches the bridge, and when the bridge is gone (a
// deleted build folder, a removed package) it runs the chained command as before, or ends
// quietly when there is none.
QString installedCommand(const QString &bridgePath, const QString &then)
{
    if (then.isEmpty())
        return QStringLiteral("b=%1; [ -x \"$b\" ] && exec \"$b\"; exit 0").arg(shellQuoted(bridgePath));
    return QStringLiteral("b=%1 c=%2; [ -x \"$b\" ] && exec \"$b\" --then \"$c\"; exec /bin/sh -c \"$c\"")
        .arg(shellQuoted(bridgePath), shellQuoted(then));
}

// The bridge's path and chained command in the form install writes, or in the older
// "<bridge> [--then '<command>']"; absent when the command does not run the bridge.
std::optional<BridgeCommand> parseBridgeCommand(const QString &command)
{
    const QStringList words = shellWords(command);
    BridgeCommand parsed;
    if (words.value(0).startsWith(QLatin1String("b="))) {
        parsed.bridgePath = words[0].mid(2);
        if (words.value(1).startsWith(QLatin1String("c=")))
            parsed.then = words[1].mid(2);
    } else {
        parsed.bridgePath = words.value(0);
        if (words.value(1) == QLatin1String("--then"))
            parsed.then = words.value(2);
        parsed.olderForm = QDir::isAbsolutePath(parsed.bridgePath)
            && command.trimmed()
                == shellQuoted(parsed.bridgePath)
                    + (parsed.then.isEmpty() ? QString() : QStringLiteral(" --then ") + singleQuoted(parsed.then));
    }
    if (QFileInfo(parsed.bridgePath).fileName() != QLatin1String("glimmerox-statusline"))
        return std::nullopt;
    return parsed;
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
    std::optional<FileStatus> status; // taken before the bytes were read
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
    file.status = fileStatus(path);
    if (!file.status || !file.status->regular) {
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

// Whether the bytes are exactly one JSON value.
bool isOneJsonValue(const QByteArray &raw)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + raw + ']', &error);
    return error.error == QJsonParseError::NoError && document.array().size() == 1;
}

// Whether settings bytes read as a JSON object, as readSettings requires.
bool isJsonObject(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes).isObject();
}

// What one edit of the settings does.
struct SettingsEdit
{
    std::optional<QByteArray> bytes;        // the new file; absent: nothing to write
    std::optional<QJsonObject> recordBefore; // the record to write before the file
    std::optional<QJsonObject> recordAfter;  // the record to write once the file is written
    SettingsEditResult result;              // the answer once done
};

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
    return parseBridgeCommand(command).has_value();
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

namespace {

// Reads the settings, asks `plan` for the edit, writes the record it asks for, and replaces the
// file only if it is still what was read just before the rename.
SettingsEditResult editSettings(const QString &settingsPath, const QString &recordPath,
                                const std::function<void()> &beforeReplace,
                                const std::function<SettingsEdit(const SettingsFile &)> &plan)
{
    // Claude Code rewrites the file itself (on /model, say): an edit made on contents that have
    // changed since they were read would undo that change, so it is made again on the new ones.
    constexpr int maxAttempts = 4;
    std::optional<QJsonObject> recordWritten;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        const SettingsFile file = readSettings(settingsPath);
        if (!file.error.isEmpty())
            return {false, file.error};
        const SettingsEdit edit = plan(file);
        if (!edit.bytes)
            return edit.result;
        if (edit.recordBefore && edit.recordBefore != recordWritten) {
            if (const QString failure = writeRecord(recordPath, *edit.recordBefore); !failure.isEmpty())
                return {false, QStringLiteral("%1; %2 was left untouched").arg(failure, settingsPath)};
            recordWritten = edit.recordBefore;
        }
        if (!file.exists && !QDir().mkpath(QFileInfo(settingsPath).absolutePath()))
            return {false, QStringLiteral("Cannot create %1").arg(QFileInfo(settingsPath).absolutePath())};
        AtomicWrite how;
        const int mode = file.exists ? filePermissions(settingsPath) : 0600;
        how.mode = mode < 0 ? 0600 : mode;
        how.beforeRename = [&] {
            if (beforeReplace)
                beforeReplace();
            // The bytes catch a rewrite in place within the file system's time resolution; the
            // status, taken last, any change since the read up to the moment before the rename.
            const ReadResult now = readSmallFile(settingsPath, maxSettingsFile);
            if (!(file.exists ? now.ok() && now.data == file.bytes : now.missing))
                return false;
            return fileStatus(settingsPath) == file.status;
        };
        bool changed = false;
        if (const QString failure = writeFileAtomically(settingsPath, *edit.bytes, how, &changed); changed) {
            qCWarning(lcBridge) << "settings changed while being edited, editing again:" << settingsPath;
            continue;
        } else if (!failure.isEmpty()) {
            return {false, failure};
        }
        if (edit.recordAfter)
            writeRecord(recordPath, *edit.recordAfter); // a stale record is harmless: the next install replaces it
        return edit.result;
    }
    return {false, QStringLiteral("%1 kept changing while it was being edited; it was left as it is. Try again.")
                       .arg(settingsPath)};
}

// The same bridge and chained command in the form that falls back when the bridge is gone.
SettingsEdit migration(const QString &settingsPath, const SettingsFile &file, const JsonMember &member,
                       const BridgeCommand &installed)
{
    QByteArray edited = file.bytes;
    edited.replace(member.valueStart, member.valueEnd - member.valueStart,
                   commandEntry(installedCommand(installed.bridgePath, installed.then), file, &member));
    return {edited, {}, {},
            {true, QStringLiteral("Glimmerox's status line in %1 is brought up to date").arg(settingsPath)}};
}

} // namespace

SettingsEditResult StatusLineSettings::install() const
{
    return editSettings(m_settingsPath, m_recordPath, m_beforeReplace, [this](const SettingsFile &file) -> SettingsEdit {
        const JsonMember *member = file.statusLine();
        const QJsonValue previous = member ? parsedValue(file.raw(*member)) : QJsonValue();
        if (const std::optional<BridgeCommand> installed = parseBridgeCommand(commandOf(previous))) {
            if (installed->olderForm)
                return migration(m_settingsPath, file, *member, *installed);
            return {{}, {}, {}, {true, QStringLiteral("Glimmerox's status line is already set in %1").arg(m_settingsPath)}};
        }

        // Our command first, chaining the previous one.
        const QString previousCommand = commandOf(previous);
        const QByteArray entry = commandEntry(installedCommand(m_bridgePath, previousCommand), file, member);
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
        return {edited, record, {},
                {true, previousCommand.isEmpty()
                           ? QStringLiteral("Glimmerox's status line is set in %1").arg(m_settingsPath)
                           : QStringLiteral("Glimmerox's status line is set in %1, running the previous one after it")
                                 .arg(m_settingsPath)}};
    });
}

SettingsEditResult StatusLineSettings::migrate() const
{
    return editSettings(m_settingsPath, m_recordPath, m_beforeReplace, [this](const SettingsFile &file) -> SettingsEdit {
        const JsonMember *member = file.statusLine();
        const std::optional<BridgeCommand> installed =
            member ? parseBridgeCommand(commandOf(parsedValue(file.raw(*member)))) : std::nullopt;
        if (!installed || !installed->olderForm)
            return {{}, {}, {}, {true, {}}};
        return migration(m_settingsPath, file, *member, *installed);
    });
}

SettingsEditResult StatusLineSettings::uninstall() const
{
    return editSettings(m_settingsPath, m_recordPath, m_beforeReplace, [this](const SettingsFile &file) -> SettingsEdit {
        const JsonMember *member = file.statusLine();
        const std::optional<BridgeCommand> installed =
            member ? parseBridgeCommand(commandOf(parsedValue(file.raw(*member)))) : std::nullopt;
        if (!installed)
            return {{}, {}, {}, {true, QStringLiteral("Glimmerox's status line is not set in %1").arg(m_settingsPath)}};

        // The member as it was before installing. Without a record, or with one that no longer
        // matches the chained command (edited since), it is rebuilt from the chained command.
        const QString &chained = installed->then;
        QJsonObject record = readRecord(m_recordPath);
        const QString key = settingsKey(m_settingsPath);
        const QJsonValue kept = record.value(key).toObject().value(QLatin1String("previous"));
        const bool recordMatches = record.contains(key) && (kept.isNull() || kept.isString())
            && commandOf(kept.isString() ? parsedValue(kept.toString().toUtf8()) : QJsonValue()) == chained;
        const QByteArray rebuilt = chained.isEmpty() ? QByteArray() : commandEntry(chained, file, member);
        const auto replaced = [&](const QByteArray &previous) {
            QByteArray edited = file.bytes;
            if (!previous.isEmpty())
                return edited.replace(member->valueStart, member->valueEnd - member->valueStart, previous);
            // Exactly what installing added: from the end of the member before it, or the member alone.
            const qsizetype index = member - file.members.constData();
            const qsizetype from = index > 0 ? file.members[index - 1].valueEnd : member->keyStart;
            const qsizetype to = index == 0 && file.members.size() > 1 ? file.members[1].keyStart : member->valueEnd;
            return edited.remove(from, to - from);
        };

        QByteArray edited;
        QString said;
        if (recordMatches && kept.isString()) {
            // A damaged or planted record never makes the file invalid: it is used only when it is
            // one JSON value and the file still reads after it.
            edited = replaced(kept.toString().toUtf8());
            if (!isOneJsonValue(kept.toString().toUtf8()) || !isJsonObject(edited)) {
                edited = replaced(rebuilt);
                said = rebuilt.isEmpty() ? QStringLiteral(" (its record of the previous one was damaged and is ignored)")
                                         : QStringLiteral(" (its record of the previous one was damaged, so that one "
                                                          "was rebuilt from the command the bridge ran after it)");
            }
        } else {
            edited = replaced(recordMatches ? QByteArray() : rebuilt);
        }
        if (!isJsonObject(edited))
            return {{}, {}, {}, {false, QStringLiteral("%1 could not be edited; it was left untouched").arg(m_settingsPath)}};
        record.remove(key);
        const bool previousBack = edited != replaced(QByteArray());
        return {edited, {}, record,
                {true, previousBack ? QStringLiteral("Glimmerox's status line is removed from %1; the previous one is back%2")
                                          .arg(m_settingsPath, said)
                                    : QStringLiteral("Glimmerox's status line is removed from %1%2").arg(m_settingsPath, said)}};
    });
}
