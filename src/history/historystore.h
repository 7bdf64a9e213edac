#pragma once

#include "historyrecord.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>

// The bridge appends no more once a history file holds this much; compaction brings it back under.
inline constexpr qint64 maxHistoryFile = 1024 * 1024;
// Records older than this are dropped by compaction.
inline constexpr qint64 historyKeptDays = 35;
// How long an append or a compaction tries for the file's lock before it gives up.
inline constexpr std::chrono::milliseconds historyLockBudget(100);

// The plan windows' figures over time: one file per Claude Code data directory in the state
// folder, one JSON line per record. Writers only ever append a whole line at once under a lock
// they only try, so a status line is never held up; readers skip a torn line.
class HistoryStore
{
public:
    explicit HistoryStore(QString folder);
    // $XDG_STATE_HOME/glimmerox, ~/.local/state/glimmerox when that is unset or not absolute, and
    // ~/Library/Application Support/Glimmerox on macOS.
    static QString defaultFolder(const QString &stateHomeVariable, const QString &homeDir);
    // The same for this user's environment.
    static QString defaultFolder();

    QString folder() const { return m_folder; }
    // The file holding one data directory's history.
    QString fileFor(const QString &dataDirectory) const;

    // Appends the records that tell something new: a window's figure or reset differs from its
    // last record. Empty on success (nothing new included), else the reason.
    QString appendChanged(const QString &dataDirectory, const QList<HistoryRecord> &records) const;
    // Every readable record of one data directory, in the order they were written.
    QList<HistoryRecord> read(const QString &dataDirectory) const;
    // Drops records older than historyKeptDays at `now` and those stamped more than a day after
    // it (a clock that ran ahead), then the oldest until the file fits well under maxHistoryFile,
    // and replaces the file atomically. Empty on success, else the reason.
    QString compact(const QString &dataDirectory, const QDateTime &now) const;

private:
    QString m_folder;
};

// The records in `bytes`, one a line; a torn or foreign line is skipped.
QList<HistoryRecord> parseHistory(QByteArrayView bytes);
// The newest record of each window among `records`: the last one written, whatever its time.
QList<HistoryRecord> lastRecordPerWindow(const QList<HistoryRecord> &records);
