#pragma once

#include "statuslinesample.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Sessions kept per data directory, and how long one is kept after its last sample.
inline constexpr int maxSessionSamples = 64;
inline constexpr qint64 sessionSampleSeconds = 24 * 3600;
// How far back sampleDataDirectories() looks.
inline constexpr qint64 dataDirectoryDays = 7;

// Everything kept for one Claude Code data directory: its sessions, newest first, and each plan
// window from the newest sample that carried it.
struct DataDirectorySamples
{
    QString dataDirectory;
    QList<SessionSample> sessions;
    std::optional<PlanWindowSample> fiveHour;
    std::optional<PlanWindowSample> sevenDay;
    std::optional<PlanWindowSample> spend;

    // The newest sample's time of the sessions and windows; invalid when nothing is kept.
    QDateTime newestAt() const;
    // The newest sample of that session, if kept.
    std::optional<SessionSample> session(const QString &sessionId) const;

    friend bool operator==(const DataDirectorySamples &, const DataDirectorySamples &) = default;
};

// `stored` with one more sample: its session replaced or added, sessions older than a day at
// `now` dropped and only the newest maxSessionSamples kept; a window replaced only by a sample
// that carries it and stands by replacesFigure() (windowrule.h), so an idle session never pulls
// a window's figure down.
DataDirectorySamples mergeSample(DataDirectorySamples stored, const StatusLineSample &sample, const QDateTime &now);

// The samples in the runtime folder: one file per data directory (0600, in a 0700 folder), each
// replaced atomically under a lock, so writers running at once never tear or mix a file.
class SampleStore
{
public:
    explicit SampleStore(QString folder);
    // QStandardPaths::RuntimeLocation + "/glimmerox": $XDG_RUNTIME_DIR/glimmerox on Linux; empty
    // when the system's runtime folder is not fit for use.
    static QString defaultFolder();

    QString folder() const { return m_folder; }
    // The file holding one data directory's samples.
    QString fileFor(const QString &dataDirectory) const;

    // Merges the sample into its data directory's file; empty on success, else the reason.
    // `standing`, when given, receives what the file holds after the merge.
    QString record(const StatusLineSample &sample, const QDateTime &now,
                   std::optional<DataDirectorySamples> *standing = nullptr) const;
    // What is kept for one data directory; absent when nothing (readable) is.
    std::optional<DataDirectorySamples> read(const QString &dataDirectory) const;
    // Every data directory's samples.
    QList<DataDirectorySamples> readAll() const;

private:
    std::optional<DataDirectorySamples> readFile(const QString &path) const;

    QString m_folder;
};

// The data directories named by samples in `folder` of the last seven days at `now`, for the
// statistics reader to look into as well.
QStringList sampleDataDirectories(const QString &folder, const QDateTime &now);
// The same of samples already read.
QStringList sampleDataDirectories(const QList<DataDirectorySamples> &samples, const QDateTime &now);

// Whether a data directory named by a payload or a sample file counts: an absolute path to a
// folder that exists and holds Claude Code's projects folder.
bool isPresentDataDirectory(const QString &dataDirectory);
