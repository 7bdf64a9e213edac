#include "historywindow.h"

#include "historychartpainter.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>

HistoryWindow::HistoryWindow(Loader loader, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_loader(std::move(loader))
    , m_save(new QAction(tr("Save as PNG…"), this))
{
    setWindowTitle(tr("Glimmerox History"));
    // Closing the panel quits the program, whether or not the history is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setMinimumSize(HistoryChartLayout::minimumSize.toSize());
    resize(HistoryChartLayout::defaultSize.toSize());

    auto *close = new QAction(tr("Close History"), this);
    close->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
    m_save->setShortcut(QKeySequence(QKeySequence::Save));
    connect(m_save, &QAction::triggered, this, &HistoryWindow::chooseFileAndSave);
    addAction(m_save);

    m_refresh.setInterval(60 * 1000);
    connect(&m_refresh, &QTimer::timeout, this, &HistoryWindow::reload);
}

void HistoryWindow::open()
{
    if (!isVisible() && !m_geometry.isEmpty())
        restoreGeometry(m_geometry);
    else if (!isVisible() && screen())
        move(screen()->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    m_refresh.start();
    reload();
}

void HistoryWindow::reload()
{
    if (m_loading || !m_loader)
        return;
    m_loading = true;
    QtConcurrent::run(m_loader()).then(this, [this](HistorySeries series) {
        m_loading = false;
        m_series = std::move(series);
        update();
        emit seriesChanged();
    });
}

HistoryChartLayout HistoryWindow::layout() const
{
    return HistoryChartLayout::compute(size());
}

void HistoryWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintHistoryChart(painter, layout(), m_series, m_pointer);
}

void HistoryWindow::mouseMoveEvent(QMouseEvent *event)
{
    m_pointer = event->position();
    update();
}

void HistoryWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && layout().saveKey.contains(event->position()))
        m_save->trigger();
    else
        QWidget::mousePressEvent(event);
}

void HistoryWindow::leaveEvent(QEvent *event)
{
    m_pointer.reset();
    update();
    QWidget::leaveEvent(event);
}

void HistoryWindow::hideEvent(QHideEvent *event)
{
    m_geometry = saveGeometry();
    m_refresh.stop();
    QWidget::hideEvent(event);
}

void HistoryWindow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(m_save);
    menu.exec(event->globalPos());
}

QString HistoryWindow::saveImage(const QString &path, qreal dpr) const
{
    const QImage image = renderHistoryChart(layout(), m_series, dpr);
    return image.save(path, "PNG") ? QString() : tr("Cannot write %1").arg(QDir::toNativeSeparators(path));
}

void HistoryWindow::chooseFileAndSave()
{
    const QString name = QStringLiteral("glimmerox-history-%1.png")
                             .arg(m_series.now.isValid() ? m_series.now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"))
                                                         : QStringLiteral("chart"));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save History as PNG"), QDir::home().filePath(name),
                                                      tr("PNG image (*.png)"));
    if (path.isEmpty())
        return;
    if (const QString failure = saveImage(path, devicePixelRatioF()); !failure.isEmpty())
        QMessageBox::warning(this, tr("Save as PNG"), failure);
}
