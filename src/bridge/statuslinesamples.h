#pragma once

#include "samplestore.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QTimer>

#include <optional>

// The panel's view of the status-line samples: watches the runtime folder and publishes what it
// holds on the owning (main) thread as soon as a bridge has replaced a sample file.
class StatusLineSamples : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<DataDirectorySamples> samples READ samples NOTIFY samplesChanged)

public:
    // Watches SampleStore::defaultFolder().
    explicit StatusLineSamples(QObject *parent = nullptr);
    explicit StatusLineSamples(QString folder, QObject *parent = nullptr);

    QString folder() const { return m_store.folder(); }
    QList<DataDirectorySamples> samples() const { return m_samples; }
    // What is kept for that data directory (matched as the samples key it), if anything.
    std::optional<DataDirectorySamples> forDataDirectory(const QString &dataDirectory) const;

    // Reads the folder again now (K2 and F5 ask for this).
    void reload();

signals:
    void samplesChanged();

private:
    void watchFolder();
    void setSamples(const QList<DataDirectorySamples> &samples);

    SampleStore m_store;
    QFileSystemWatcher m_watcher;
    // While the folder cannot be watched (not there yet, or inotify's watches used up): reads it
    // every 2 s and tries the watch again.
    QTimer m_retry;
    QList<DataDirectorySamples> m_samples;
};
