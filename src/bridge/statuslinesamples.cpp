#include "statuslinesamples.h"

#include "bridgelog.h"
#include "claudedatadir.h"
#include "privatefiles.h"

StatusLineSamples::StatusLineSamples(QObject *parent) : StatusLineSamples(SampleStore::defaultFolder(), parent) { }

namespace {

// Qt says on standard error itself when a watch cannot be added (inotify's watches used up);
// the panel says it once in its own log instead.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

StatusLineSamples::StatusLineSamples(QString folder, QObject *parent)
    : QObject(parent), m_store(std::move(folder))
{
    // A bridge replaces its file with a rename, which the folder's watch reports at once.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &StatusLineSamples::reload);
    // While the folder cannot be watched, it is read again every two seconds instead.
    m_retry.setInterval(2000);
    connect(&m_retry, &QTimer::timeout, this, &StatusLineSamples::reload);
    watchFolder();
    m_samples = m_store.readAll();
}

void StatusLineSamples::watchFolder()
{
    if (m_store.folder().isEmpty())
        return; // nothing to watch: no bridge can write either
    const QString failure = ensurePrivateFolder(m_store.folder());
    bool watched = failure.isEmpty() && m_watcher.directories().contains(m_store.folder());
    if (failure.isEmpty() && !watched) {
        const bool quiet = !lcBridge().isWarningEnabled();
        const QtMessageHandler previous = quiet ? qInstallMessageHandler(dropMessage) : nullptr;
        watched = m_watcher.addPath(m_store.folder());
        if (quiet)
            qInstallMessageHandler(previous);
    }
    if (watched) {
        m_retry.stop();
        return;
    }
    if (!m_retry.isActive())
        qCWarning(lcBridge) << "cannot watch the status line samples, reading them every 2 s:"
                            << (failure.isEmpty() ? m_store.folder() : failure);
    m_retry.start();
}

std::optional<DataDirectorySamples> StatusLineSamples::forDataDirectory(const QString &dataDirectory) const
{
    const QString key = dataDirectoryKey(dataDirectory);
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
