#include "samplestore.h"

#include "fileaccess.h"
#include "bridgelog.h"
#include "claudedatadir.h"
#include "privatefiles.h"
#include "windowrule.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>

namespace {

const QString filePrefix = QStringLiteral("samples-");
const QString fileSuffix = QStringLiteral(".json");
// A sample file never grows near this; anything larger is not ours.
constexpr qint64 maxSampleFile = 4 * 1024 * 1024;
// Recording never holds up the status line for longer than this; the sample is skipped instead.
constexpr std::chrono::milliseconds lockPatience{100};
// The runtime folder lives in memory; where a system has none, the samples are on disk and are
// written so that a crash cannot leave one cut short.
#ifdef Q_OS_MACOS
constexpr bool samplesOnDisk = true;
#else
constexpr bool samplesOnDisk = false;
#endif

// Deletes the sample files (and their locks) of data directories not written for
// dataDirectoryDays; a file whose lock is held is in use and stays.
void removeAbandoned(const QString &folder, const QStringList &names, const QDateTime &now)
{
    for (const QString &name : names) {
        if (!name.startsWith(filePrefix) || !name.endsWith(fileSuffix))
            continue;
        const QString path = folder + u'/' + name;
        const std::optional<FileStatus> status = fileStatus(path);
        if (!status || QDateTime::fromSecsSinceEpoch(status->modified.seconds, Qt::UTC).secsTo(now)
                           <= dataDirectoryDays * 86400)
            continue;
        const FileLock lock(path + QStringLiteral(".lock"), std::chrono::milliseconds(0));
        if (lock.isLocked() && QFile::remove(path))
            QFile::remove(path + QStringLiteral(".lock"));
    }
}

QJsonValue msecs(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(double(time.toMSecsSinceEpoch())) : QJsonValue();
}

QDateTime fromMsecs(const QJsonValue &value)
{
    return value.isDouble() ? QDateTime::fromMSecsSinceEpoch(qint64(value.toDouble()), Qt::UTC) : QDateTime();
}

template <typename T>
QJsonValue optionalValue(const std::optional<T> &value)
{
    return value ? QJsonValue(double(*value)) : QJsonValue();
}

QJsonObject windowToJson(const PlanWindowSample &window)
{
    return {{QStringLiteral("usedPercent"), window.usedPercent},
            {QStringLiteral("resetsAt"), window.resetsAt ? msecs(*window.resetsAt) : QJsonValue()},
            {QStringLiteral("receivedAt"), msecs(window.receivedAt)}};
}

std::optional<PlanWindowSample> windowFromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    if (!object.value(QLatin1String("usedPercent")).isDouble())
        return std::nullopt;
    PlanWindowSample window;
    window.usedPercent = object.value(QLatin1String("usedPercent")).toDouble();
    if (const QDateTime resets = fromMsecs(object.value(QLatin1String("resetsAt"))); resets.isValid())
        window.resetsAt = resets;
    window.receivedAt = fromMsecs(object.value(QLatin1String("receivedAt")));
    return window;
}

QJsonObject sessionToJson(const SessionSample &session)
{
    return {{QStringLiteral("sessionId"), session.sessionId},
            {QStringLiteral("cwd"), session.cwd},
            {QStringLiteral("modelId"), session.modelId},
            {QStringLiteral("modelName"), session.modelName},
            {QStringLiteral("contextWindowSize"), optionalValue(session.contextWindowSize)},
            {QStringLiteral("contextUsedPercent"), optionalValue(session.contextUsedPercent)},
            {QStringLiteral("costUsd"), optionalValue(session.costUsd)},
            {QStringLiteral("receivedAt"), msecs(session.receivedAt)},
            {QStringLiteral("promptCache"),
             session.promptCache ? QJsonValue(promptCacheToJson(*session.promptCache)) : QJsonValue()}};
}

SessionSample sessionFromJson(const QJsonObject &object, const QString &dataDirectory)
{
    SessionSample session;
    session.sessionId = object.value(QLatin1String("sessionId")).toString();
    session.dataDirectory = dataDirectory;
    session.cwd = object.value(QLatin1String("cwd")).toString();
    session.modelId = object.value(QLatin1String("modelId")).toString();
    session.modelName = object.value(QLatin1String("modelName")).toString();
    if (const QJsonValue size = object.value(QLatin1String("contextWindowSize")); size.isDouble())
        session.contextWindowSize = qint64(size.toDouble());
    if (const QJsonValue used = object.value(QLatin1String("contextUsedPercent")); used.isDouble())
        session.contextUsedPercent = used.toDouble();
    if (const QJsonValue cost = object.value(QLatin1String("costUsd")); cost.isDouble())
        session.costUsd = cost.toDouble();
    session.receivedAt = fromMsecs(object.value(QLatin1String("receivedAt")));
    session.promptCache = parsePromptCache(object.value(QLatin1String("promptCache")).toObject());
    return session;
}

QByteArray toJson(const DataDirectorySamples &samples)
{
    QJsonArray sessions;
    for (const SessionSample &session : samples.sessions)
        sessions.append(sessionToJson(session));
    QJsonObject root{{QStringLiteral("dataDirectory"), samples.dataDirectory},
                     {QStringLiteral("sessions"), sessions}};
    if (samples.fiveHour)
        root.insert(QStringLiteral("fiveHour"), windowToJson(*samples.fiveHour));
    if (samples.sevenDay)
        root.insert(QStringLiteral("sevenDay"), windowToJson(*samples.sevenDay));
    if (samples.spend)
        root.insert(QStringLiteral("spend"), windowToJson(*samples.spend));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

void keepStandingWindow(std::optional<PlanWindowSample> &stored, const std::optional<PlanWindowSample> &incoming,
                        const QDateTime &now)
{
    if (incoming
        && (!stored
            || replacesFigure({stored->usedPercent, stored->resetsAt, stored->receivedAt},
                              {incoming->usedPercent, incoming->resetsAt, incoming->receivedAt}, now)))
        stored = incoming;
}

} // namespace

QDateTime DataDirectorySamples::newestAt() const
{
    QDateTime newest;
    const auto consider = [&newest](const QDateTime &time) {
        if (time.isValid() && (!newest.isValid() || time > newest))
            newest = time;
    };
    for (const SessionSample &session : sessions)
        consider(session.receivedAt);
    if (fiveHour)
        consider(fiveHour->receivedAt);
    if (sevenDay)
        consider(sevenDay->receivedAt);
    if (spend)
        consider(spend->receivedAt);
    return newest;
}

std::optional<SessionSample> DataDirectorySamples::session(const QString &sessionId) const
{
    for (const SessionSample &session : sessions)
        if (!sessionId.isEmpty() && session.sessionId == sessionId)
            return session;
    return std::nullopt;
}

DataDirectorySamples mergeSample(DataDirectorySamples stored, const StatusLineSample &sample, const QDateTime &now)
{
    const SessionSample &incoming = sample.session;
    stored.sessions.removeIf([&](const SessionSample &kept) {
        return (!incoming.sessionId.isEmpty() && kept.sessionId == incoming.sessionId)
            || !presentTime(kept.receivedAt, now).isValid() || kept.receivedAt.secsTo(now) > sessionSampleSeconds;
    });
    if (!incoming.sessionId.isEmpty())
        stored.sessions.append(incoming);
    std::stable_sort(stored.sessions.begin(), stored.sessions.end(),
                     [](const SessionSample &a, const SessionSample &b) { return a.receivedAt > b.receivedAt; });
    if (stored.sessions.size() > maxSessionSamples)
        stored.sessions.resize(maxSessionSamples);
    keepStandingWindow(stored.fiveHour, sample.fiveHour, now);
    keepStandingWindow(stored.sevenDay, sample.sevenDay, now);
    keepStandingWindow(stored.spend, sample.spend, now);
    return stored;
}

SampleStore::SampleStore(QString folder) : m_folder(std::move(folder)) { }

QString SampleStore::defaultFolder()
{
    // Empty when the runtime folder is refused (another owner, loose permissions).
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/glimmerox");
}

bool isPresentDataDirectory(const QString &dataDirectory)
{
    return QDir::isAbsolutePath(dataDirectory) && QFileInfo(dataDirectory + QStringLiteral("/projects")).isDir();
}

QString SampleStore::fileFor(const QString &dataDirectory) const
{
    const QByteArray hash = QCryptographicHash::hash(dataDirectoryKey(dataDirectory).toUtf8(),
                                                     QCryptographicHash::Sha256);
    return m_folder + u'/' + filePrefix + QString::fromLatin1(hash.toHex().left(16)) + fileSuffix;
}

QString SampleStore::record(const StatusLineSample &sample, const QDateTime &now,
                            std::optional<DataDirectorySamples> *standing) const
{
    if (m_folder.isEmpty())
        return QStringLiteral("There is no usable runtime folder");
    if (const QString failure = ensurePrivateFolder(m_folder); !failure.isEmpty())
        return failure;
    StatusLineSample keyed = sample;
    keyed.session.dataDirectory = dataDirectoryKey(sample.session.dataDirectory);
    const QString path = fileFor(keyed.session.dataDirectory);
    const QStringList names = listDirectory(m_folder).value_or(QStringList());
    {
        const FileLock lock(path + QStringLiteral(".lock"), lockPatience);
        if (!lock.isLocked())
            return QStringLiteral("%1 stayed locked; the sample is skipped").arg(path);
        // Under the lock no other writer is between its temporary file and the rename, so any
        // temporary file of this sample file was left by a bridge ended mid-write.
        const QString leftover = QFileInfo(path).fileName() + QStringLiteral(".glimmerox-");
        for (const QString &name : names)
            if (name.startsWith(leftover))
                QFile::remove(m_folder + u'/' + name);
        DataDirectorySamples stored = readFile(path).value_or(DataDirectorySamples{});
        stored.dataDirectory = keyed.session.dataDirectory;
        AtomicWrite how;
        how.durable = samplesOnDisk;
        how.followLink = false;
        const DataDirectorySamples merged = mergeSample(std::move(stored), keyed, now);
        if (const QString failure = writeFileAtomically(path, toJson(merged), how); !failure.isEmpty())
            return failure;
        if (standing)
            *standing = merged;
    }
    removeAbandoned(m_folder, names, now);
    return {};
}

std::optional<DataDirectorySamples> SampleStore::readFile(const QString &path) const
{
    const std::optional<QByteArray> bytes = readOwnFile(path, maxSampleFile);
    if (!bytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject()) {
        qCWarning(lcBridge) << "ignoring unreadable sample file" << path;
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    DataDirectorySamples samples;
    samples.dataDirectory = root.value(QLatin1String("dataDirectory")).toString();
    for (const QJsonValue &session : root.value(QLatin1String("sessions")).toArray())
        samples.sessions.append(sessionFromJson(session.toObject(), samples.dataDirectory));
    samples.fiveHour = windowFromJson(root.value(QLatin1String("fiveHour")));
    samples.sevenDay = windowFromJson(root.value(QLatin1String("sevenDay")));
    samples.spend = windowFromJson(root.value(QLatin1String("spend")));
    return samples;
}

std::optional<DataDirectorySamples> SampleStore::read(const QString &dataDirectory) const
{
    return readFile(fileFor(dataDirectory));
}

QList<DataDirectorySamples> SampleStore::readAll() const
{
    QList<DataDirectorySamples> all;
    const std::optional<QStringList> names = listDirectory(m_folder);
    for (const QString &name : names.value_or(QStringList())) {
        if (!name.startsWith(filePrefix) || !name.endsWith(fileSuffix))
            continue;
        if (std::optional<DataDirectorySamples> samples = readFile(m_folder + u'/' + name))
            all.append(std::move(*samples));
    }
    std::sort(all.begin(), all.end(), [](const DataDirectorySamples &a, const DataDirectorySamples &b) {
        return a.dataDirectory < b.dataDirectory;
    });
    return all;
}

QStringList sampleDataDirectories(const QString &folder, const QDateTime &now)
{
    return sampleDataDirectories(SampleStore(folder).readAll(), now);
}

QStringList sampleDataDirectories(const QList<DataDirectorySamples> &kept, const QDateTime &now)
{
    QStringList directories;
    for (const DataDirectorySamples &samples : kept) {
        const QDateTime newest = samples.newestAt();
        // A file of an older bridge may name anything.
        if (newest.isValid() && newest.secsTo(now) <= dataDirectoryDays * 86400
            && isPresentDataDirectory(samples.dataDirectory))
            directories << samples.dataDirectory;
    }
    return directories;
}
