#include "panelwindow.h"

#include "contentview.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

PanelWindow::PanelWindow(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_view(new ContentView(stats, fetcher, this))
    , m_about(new QAction(tr("About Glimmerox"), this))
    , m_hide(new QAction(tr("Hide Glimmerox"), this))
    , m_bringToFront(new QAction(tr("Bring to Front"), this))
    , m_quit(new QAction(tr("Quit Glimmerox"), this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Glimmerox"));
    setFixedSize(m_view->size());
    m_view->move(0, 0);

#ifndef Q_OS_MACOS
    // On macOS the native application menu already hides the application on Command-H.
    m_hide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
#endif
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_about->setMenuRole(QAction::AboutRole);
    m_quit->setMenuRole(QAction::QuitRole);
    for (QAction *action : {m_about, m_hide, m_bringToFront, m_quit}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(m_about, &QAction::triggered, this, &PanelWindow::aboutRequested);
    // A frameless panel has no other way back once hidden, so unless the application hides it
    // somewhere else (a tray icon), hiding minimises it: the taskbar (or "Bring to Front") restores it.
    connect(m_hide, &QAction::triggered, this, [this] {
        if (isSignalConnected(QMetaMethod::fromSignal(&PanelWindow::hideRequested)))
            emit hideRequested();
        else
            showMinimized();
    });
    connect(m_bringToFront, &QAction::triggered, this, &PanelWindow::bringToFront);
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    centreOnScreen();
}

void PanelWindow::centreOnScreen()
{
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    const QRect area = target->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2) + QPoint(1, 1));
}

void PanelWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void PanelWindow::addMenuAction(QAction *action)
{
    m_menuActions.append(action);
}

void PanelWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressPosition = event->globalPosition().toPoint();
    m_dragOffset.reset();
    event->accept();
}

void PanelWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressPosition && (event->buttons() & Qt::LeftButton)) {
        const QPoint travelled = event->globalPosition().toPoint() - *m_pressPosition;
        if (travelled.manhattanLength() < QApplication::startDragDistance()) {
            event->accept();
            return;
        }
        // Some window managers keep a window glued to the pointer when a move starts on a
        // press that ends at once; starting only on a real drag avoids that.
        QWindow *window = windowHandle();
        if (!window || !window->startSystemMove())
            m_dragOffset = *m_pressPosition - pos();
        m_pressPosition.reset();
    }
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PanelWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_pressPosition.reset();
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void PanelWindow::contextMenuEvent(QContextMenuEvent *event)
{
#ifdef Q_OS_MACOS
    // The application menu in the menu bar carries these actions on macOS.
    QWidget::contextMenuEvent(event);
#else
    QMenu menu(this);
    menu.addAction(m_about);
    menu.addActions(m_menuActions);
    menu.addSeparator();
    menu.addAction(m_hide);
    menu.addAction(m_bringToFront);
    menu.addSeparator();
    menu.addAction(m_quit);
    menu.exec(event->globalPos());
#endif
}
