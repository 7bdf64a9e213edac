#include "historystore.h"

#include "appendfile.h"
#include "claudedatadir.h"
#include "fileaccess.h"
#include "historylog.h"
#include "privatefiles.h"

#include <QCryptographicHash>
#include <QDir>

#include <algorithm>

namespace {

const QString filePrefix = QStringLiteral("history-");
const QString fileSuffix = QStringLiteral(".jsonl");
// The end of the file an append reads to find each window's last figure. A window whose last
// record lies further back gets its unchanged figure once more, which costs one line.
constexpr qint64 appendTailBytes = 64 * 1024;
// A history file never grows near this; a larger one is not ours.
constexpr qint64 maxReadFile = 4 * maxHistoryFile;
// Compaction leaves room for the bridge to append again.
constexpr qint64 compactedSize = maxHistoryFile * 3 / 4;

QString lockPath(const QString &path)
{
    return path + QStringLiteral(".lock");
}

// The last `count` bytes of a file, or the whole file when it is smaller.
QByteArray fileTail(const QString &path, qint64 count)
{
    RegularFile file(path);
    if (!file.isOpen())
        return {};
    const qint64 from = std::max<qint64>(0, file.size() - count);
    QByteArray tail(file.size() - from, Qt::Uninitialized);
    if (!file.seek(from))
        return {};
    qint64 filled = 0;
    while (filled < tail.size()) {
        const qint64 n = file.read(tail.data() + filled, tail.size() - filled);
        if (n <= 0)
            break;
        filled += n;
    }
    tail.truncate(filled);
    // A cut first line is not a record.
    if (from > 0)
        tail.remove(0, tail.indexOf('\n') + 1);
    return tail;
}

} // namespace

QList<HistoryRecord> parseHistory(QByteArrayView bytes)
{
    QList<HistoryRecord> records;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView line = end < 0 ? bytes : bytes.first(end);
        if (std::optional<HistoryRecord> record = parseHistoryLine(line))
            records.append(std::move(*record));
        bytes = end < 0 ? QByteArrayView() : bytes.sliced(end + 1);
    }
    return records;
}

QList<HistoryRecord> lastRecordPerWindow(const QList<HistoryRecord> &records)
{
    QList<HistoryRecord> last;
    for (const HistoryRecord &record : records) {
        const auto kept = std::find_if(last.begin(), last.end(),
                                       [&](const HistoryRecord &r) { return r.window == record.window; });
        if (kept == last.end())
            last.append(record);
        else
            *kept = record;
    }
    return last;
}

HistoryStore::HistoryStore(QString folder) : m_folder(std::move(folder)) { }

QString HistoryStore::defaultFolder(const QString &stateHomeVariable, const QString &homeDir)
{
#ifdef Q_OS_MACOS
    return homeDir + QStringLiteral("/Library/Application Support/Glimmerox");
#endif
    // XDG base directories ignore a relative value.
    const QString stateHome = QDir::isAbsolutePath(stateHomeVariable) ? stateHomeVariable
                                                                      : homeDir + QStringLiteral("/.local/state");
    return QDir::cleanPath(stateHome) + QStringLiteral("/glimmerox");
}

QString HistoryStore::defaultFolder()
{
    return defaultFolder(qEnvironmentVariable("XDG_STATE_HOME"), QDir::homePath());
}

QString HistoryStore::fileFor(const QString &dataDirectory) const
{
    const QByteArray hash = QCryptographicHash::hash(dataDirectoryKey(dataDirectory).toUtf8(), QCryptographicHash::Sha256);
    return m_folder + u'/' + filePrefix + QString::fromLatin1(hash.toHex().left(16)) + fileSuffix;
}

QString HistoryStore::appendChanged(const QString &dataDirectory, const QList<HistoryRecord> &records) const
{
    if (records.isEmpty())
        return {};
    if (const QString failure = ensurePrivateFolder(m_folder); !failure.isEmpty())
        return failure;
    const QString path = fileFor(dataDirectory);
    const FileLock lock(lockPath(path), historyLockBudget);
    if (!lock.isLocked())
        return QStringLiteral("Cannot lock %1 in time").arg(path);
    const QByteArray tail = fileTail(path, appendTailBytes);
    QList<HistoryRecord> last = lastRecordPerWindow(parseHistory(tail));
    QByteArray lines;
    // A writer killed mid-append left a line without its end: ours starts on a line of its own.
    if (!tail.isEmpty() && !tail.endsWith('\n'))
        lines += '\n';
    const qsizetype start = lines.size();
    for (const HistoryRecord &record : records) {
        const auto kept = std::find_if(last.begin(), last.end(),
                                       [&](const HistoryRecord &r) { return r.window == record.window; });
        if (kept != last.end() && kept->sameFigure(record))
            continue;
        if (kept == last.end())
            last.append(record);
        else
            *kept = record;
        lines += historyLine(record);
    }
    if (lines.size() == start)
        return {};
    return appendToFile(path, lines, 0600, maxHistoryFile);
}

QList<HistoryRecord> HistoryStore::read(const QString &dataDirectory) const
{
    const ReadResult file = readSmallFile(fileFor(dataDirectory), maxReadFile);
    if (!file.ok() && !file.missing)
        qCWarning(lcHistory).noquote() << "cannot read the history:" << file.error;
    return parseHistory(file.data);
}

QString HistoryStore::compact(const QString &dataDirectory, const QDateTime &now) const
{
    const QString path = fileFor(dataDirectory);
    const FileLock lock(lockPath(path), historyLockBudget);
    if (!lock.isLocked())
        return QStringLiteral("Cannot lock %1 in time").arg(path);
    const ReadResult file = readSmallFile(path, maxReadFile);
    if (file.missing)
        return {};
    if (!file.ok())
        return file.error;
    const QDateTime oldest = now.addDays(-historyKeptDays);
    const QDateTime latest = now.addDays(1);
    QList<QByteArray> kept;
    for (const HistoryRecord &record : parseHistory(file.data))
        if (record.at >= oldest && record.at <= latest)
            kept.append(historyLine(record));
    // The file is in the order written, which is the order of time unless the clock jumped:
    // dropping from the front drops what was written first.
    qint64 size = 0;
    for (const QByteArray &line : kept)
        size += line.size();
    qsizetype first = 0;
    while (size > compactedSize && first < kept.size())
        size -= kept.at(first++).size();
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = first; i < kept.size(); ++i)
        bytes += kept.at(i);
    if (bytes == file.data)
        return {};
    return writeFileAtomically(path, bytes, 0600, true);
}
