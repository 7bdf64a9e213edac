#include "cachedusagereport.h"

#include "claudedatadir.h"
#include "planlog.h"
#include "planreport.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace {

// A scanner over the top level of a JSON object that finds the byte span of a member's value
// without building the rest: the config file holds tens of megabytes Glimmerox must not parse.
class TopLevelMembers
{
public:
    explicit TopLevelMembers(const QByteArray &text) : m_text(text) { }

    // The spans of the wanted members' values; absent when the text is no JSON object.
    std::optional<QHash<QByteArray, QByteArray>> find(const QList<QByteArray> &wanted)
    {
        QHash<QByteArray, QByteArray> found;
        skipSpace();
        if (!take('{'))
            return std::nullopt;
        skipSpace();
        if (take('}'))
            return found;
        for (;;) {
            skipSpace();
            const qsizetype keyStart = m_pos;
            if (!skipString())
                return std::nullopt;
            const QByteArray key = m_text.mid(keyStart + 1, m_pos - keyStart - 2);
            skipSpace();
            if (!take(':'))
                return std::nullopt;
            skipSpace();
            const qsizetype valueStart = m_pos;
            if (!skipValue())
                return std::nullopt;
            if (wanted.contains(key))
                found.insert(key, m_text.mid(valueStart, m_pos - valueStart));
            skipSpace();
            if (take('}'))
                return found;
            if (!take(','))
                return std::nullopt;
        }
    }

private:
    bool take(char c)
    {
        if (m_pos >= m_text.size() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }
    void skipSpace()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r'
                                         || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool skipString()
    {
        if (!take('"'))
            return false;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '\\')
                ++m_pos;
            else if (c == '"')
                return true;
        }
        return false;
    }
    // Objects and arrays by depth, strings by their quotes, anything else up to the next delimiter;
    // the parts found are checked by QJsonDocument afterwards.
    bool skipValue()
    {
        if (m_pos >= m_text.size())
            return false;
        if (m_text[m_pos] == '"')
            return skipString();
        if (m_text[m_pos] != '{' && m_text[m_pos] != '[') {
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && !QByteArrayView(",}] \n\r\t").contains(m_text[m_pos]))
                ++m_pos;
            return m_pos > start;
        }
        qsizetype depth = 0;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '"') {
                if (!skipString())
                    return false;
                continue;
            }
            ++m_pos;
            if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && --depth == 0)
                return true;
        }
        return false;
    }

    const QByteArray &m_text;
    qsizetype m_pos = 0;
};

const QByteArray cachedMember = QByteArrayLiteral("cachedUsageUtilization");
const QByteArray accountMember = QByteArrayLiteral("oauthAccount");

struct ReadOutcome
{
    QHash<QString, QList<PlanWindow>> reports;
    QHash<QString, std::optional<FileStatus>> seen;
};

} // namespace

QString claudeConfigFile(const QString &dataDirectory, const QString &homeDir)
{
    const QString directory = QDir::cleanPath(dataDirectory);
    if (directory == QDir::cleanPath(homeDir + QStringLiteral("/.claude")))
        return QDir::cleanPath(homeDir) + QStringLiteral("/.claude.json");
    return directory + QStringLiteral("/.claude.json");
}

CachedReportWindows cachedReportWindows(const QByteArray &config)
{
    const std::optional<QHash<QByteArray, QByteArray>> members = TopLevelMembers(config).find({cachedMember, accountMember});
    if (!members)
        return {{}, QStringLiteral("not a JSON object")};
    if (!members->contains(cachedMember))
        return {};
    const QJsonObject cached = QJsonDocument::fromJson(members->value(cachedMember)).object();
    const QJsonObject report = cached.value(QLatin1String("utilization")).toObject();
    const QJsonValue fetchedAtMs = cached.value(QLatin1String("fetchedAtMs"));
    const QString account = cached.value(QLatin1String("accountUuid")).toString();
    if (report.isEmpty() || !fetchedAtMs.isDouble() || !std::isfinite(fetchedAtMs.toDouble()) || account.isEmpty())
        return {{}, QStringLiteral("malformed cachedUsageUtilization")};
    const QString login = QJsonDocument::fromJson(members->value(accountMember))
                              .object()
                              .value(QLatin1String("accountUuid"))
                              .toString();
    if (login != account)
        return {{}, QStringLiteral("cached report of another account")};
    const QDateTime asOf = QDateTime::fromMSecsSinceEpoch(qint64(fetchedAtMs.toDouble()), Qt::UTC);
    return {planWindowsFromReport(report, PlanSource::cachedReport, asOf), {}};
}

CachedUsageReports::CachedUsageReports(QString homeDir, QObject *parent)
    : QObject(parent), m_homeDir(std::move(homeDir))
{
    m_spacing.setSingleShot(true);
    m_spacing.setInterval(1000);
    connect(&m_spacing, &QTimer::timeout, this, [this] {
        if (std::exchange(m_pending, false))
            scheduleRead();
    });
    // Claude Code replaces the file by a rename, which only the folder's watch sees.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &CachedUsageReports::scheduleRead);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &CachedUsageReports::scheduleRead);
}

void CachedUsageReports::setDataDirectories(const QStringList &dataDirectories)
{
    if (dataDirectories == m_dataDirectories)
        return;
    m_dataDirectories = dataDirectories;
    watch();
    scheduleRead();
}

void CachedUsageReports::watch()
{
    QStringList paths;
    for (const QString &directory : std::as_const(m_dataDirectories)) {
        const QString file = claudeConfigFile(directory, m_homeDir);
        paths << QFileInfo(file).path();
        if (QFileInfo::exists(file))
            paths << file;
    }
    paths.removeDuplicates();
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    for (const QString &path : watched)
        if (!paths.contains(path))
            m_watcher.removePath(path);
    for (const QString &path : std::as_const(paths))
        if (!watched.contains(path))
            m_watcher.addPath(path);
}

void CachedUsageReports::scheduleRead()
{
    if (m_reading || m_spacing.isActive()) {
        m_pending = true;
        return;
    }
    m_spacing.start();
    readChanged();
}

void CachedUsageReports::readChanged()
{
    m_reading = true;
    QStringList directories = m_dataDirectories;
    auto *watcher = new QFutureWatcher<ReadOutcome>(this);
    connect(watcher, &QFutureWatcher<ReadOutcome>::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_reading = false;
        const ReadOutcome outcome = watcher->result();
        m_seen = outcome.seen;
        watch(); // a file that appeared, or was replaced, is watched again
        if (outcome.reports != m_reports) {
            m_reports = outcome.reports;
            emit reportsChanged();
        }
        if (m_pending && !m_spacing.isActive())
            scheduleRead();
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
                                         [directories, home = m_homeDir, seen = m_seen, kept = m_reports] {
        ReadOutcome outcome;
        for (const QString &directory : directories) {
            const QString key = dataDirectoryKey(directory);
            const QString file = claudeConfigFile(directory, home);
            const std::optional<FileStatus> status = fileStatus(file);
            outcome.seen.insert(file, status);
            if (seen.contains(file) && seen.value(file) == status) {
                if (kept.contains(key))
                    outcome.reports.insert(key, kept.value(key));
                continue;
            }
            if (!status || !status->regular)
                continue;
            if (status->size > maxClaudeConfigBytes) {
                qCInfo(lcPlan) << "skipping" << file << "larger than" << maxClaudeConfigBytes << "bytes";
                continue;
            }
            const ReadResult read = readSmallFile(file, maxClaudeConfigBytes);
            if (!read.error.isEmpty()) {
                qCInfo(lcPlan) << "cannot read" << file << read.error;
                continue;
            }
            const CachedReportWindows cached = cachedReportWindows(read.data);
            if (!cached.problem.isEmpty())
                qCInfo(lcPlan) << "ignoring Claude Code's cached report in" << file << ":" << cached.problem;
            if (!cached.windows.isEmpty())
                outcome.reports.insert(key, cached.windows);
        }
        return outcome;
    }));
}
