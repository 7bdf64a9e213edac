#pragma once

#include "historychart.h"
#include "historychartlayout.h"

#include <QByteArray>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;

// "History": the chart recorder in a window of its own, resizable, filled when it opens and each
// minute while it shows: `loader` is asked on the main thread for the work, which then runs on
// Qt's thread pool. Escape and Ctrl+W (⌘W) close it
// alone; it opens again where it was. Its closing never keeps the program running.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    using Loader = std::function<std::function<HistorySeries()>()>;

    explicit HistoryWindow(Loader loader, QWidget *parent = nullptr);

    // Shows and raises the window with fresh figures.
    void open();
    const HistorySeries &series() const { return m_series; }
    // The chart at the window's size and the given ratio as a PNG; empty on success, else why not.
    QString saveImage(const QString &path, qreal dpr) const;

signals:
    // A load finished and its figures are shown.
    void seriesChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void reload();
    void chooseFileAndSave();
    HistoryChartLayout layout() const;

    Loader m_loader;
    HistorySeries m_series;
    std::optional<QPointF> m_pointer;
    bool m_loading = false;
    QTimer m_refresh;
    QAction *m_save;
    QByteArray m_geometry; // where the window was when it last closed
};
