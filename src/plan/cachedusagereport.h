#pragma once

#include "fileaccess.h"
#include "planusage.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

// Claude Code's own last usage report, which it keeps in its global config file: read with no
// login and no request. Of that file only `cachedUsageUtilization` and `oauthAccount.accountUuid`
// are read; nothing else is parsed or kept.

// A config file larger than this is skipped (with a log line).
inline constexpr qint64 maxClaudeConfigBytes = 64 * 1024 * 1024;

// The global config file of a data directory: ~/.claude.json for ~/.claude, otherwise
// .claude.json inside the folder CLAUDE_CONFIG_DIR named.
QString claudeConfigFile(const QString &dataDirectory, const QString &homeDir);

// The windows of the cached report, dated by its fetchedAtMs, or why there are none: no member,
// a malformed one, or a report of another account than the file's login (`problem` is empty
// when the member is simply not there).
struct CachedReportWindows
{
    QList<PlanWindow> windows;
    QString problem;
};
CachedReportWindows cachedReportWindows(const QByteArray &config);

// Follows the config files of a set of data directories and publishes each one's cached report
// on the owning (main) thread. A file is read on Qt's thread pool when it changed (by size or
// time), at most once a second and one read at a time.
class CachedUsageReports : public QObject
{
    Q_OBJECT

public:
    explicit CachedUsageReports(QString homeDir, QObject *parent = nullptr);

    // The data directories whose reports are wanted; the others are forgotten.
    void setDataDirectories(const QStringList &dataDirectories);
    // The windows per data directory, keyed as samples key it (dataDirectoryKey).
    QHash<QString, QList<PlanWindow>> reports() const { return m_reports; }

signals:
    void reportsChanged();

private:
    void scheduleRead();
    void readChanged();
    void watch();

    QString m_homeDir;
    QStringList m_dataDirectories;
    QHash<QString, QList<PlanWindow>> m_reports;
    QHash<QString, std::optional<FileStatus>> m_seen; // config file → status when last read
    QFileSystemWatcher m_watcher;
    QTimer m_spacing;
    bool m_pending = false;
    bool m_reading = false;
};
