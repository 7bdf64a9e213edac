#include "statuslinesamples.h"

#include "bridgelog.h"
#include "privatefiles.h"

StatusLineSamples::StatusLineSamples(QObject *parent) : StatusLineSamples(SampleStore::defaultFolder(), parent) { }

StatusLineSamples::StatusLineSamples(QString folder, QObject *parent)
    : QObject(parent), m_store(std::move(folder))
{
    // A bridge replaces its file with a rename, which the folder's watch reports at once.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &StatusLineSamples::reload);
    m_retry.setInterval(1000);
    connect(&m_retry, &QTimer::timeout, this, &StatusLineSamples::watchFolder);
    watchFolder();
    m_samples = m_store.readAll();
}

void StatusLineSamples::watchFolder()
{
    if (m_store.folder().isEmpty())
        return; // nothing to watch: no bridge can write either
    const QString failure = ensurePrivateFolder(m_store.folder());
    const bool watched = failure.isEmpty()
        && (m_watcher.directories().contains(m_store.folder()) || m_watcher.addPath(m_store.folder()));
    if (watched) {
        m_retry.stop();
        return;
    }
    qCWarning(lcBridge) << "cannot watch the status line samples:" << (failure.isEmpty() ? m_store.folder() : failure);
    m_retry.start();
}

std::optional<DataDirectorySamples> StatusLineSamples::forDataDirectory(const QString &dataDirectory) const
{
    const QString key = sampleDataDirectoryKey(dataDirectory);
    for (const DataDirectorySamples &samples : m_samples)
        if (samples.dataDirectory == key)
            return samples;
    return std::nullopt;
}

void StatusLineSamples::reload()
{
    // The folder itself may have gone (a runtime folder is emptied at logout).
    if (!m_watcher.directories().contains(m_store.folder()))
        watchFolder();
    const QList<DataDirectorySamples> samples = m_store.readAll();
    if (samples != m_samples)
        setSamples(samples);
}

void StatusLineSamples::setSamples(const QList<DataDirectorySamples> &samples)
{
    m_samples = samples;
    emit samplesChanged();
}
